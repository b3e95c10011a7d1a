// Opens the Preferences and About dialogs from the main window's menus.
//
// Each dialog is made on its first use and then kept: it has no owner window, and a menu command while it
// is open only brings it to the front.
#pragma once

#include <QObject>

#include <memory>

namespace corvantle {

class AboutDialog;
class MainForm;
class OptionsDialog;
class OptionsLogic;

class DialogLauncher final : public QObject {
    Q_OBJECT
  public:
    DialogLauncher(MainForm &form, OptionsLogic &logic);
    ~DialogLauncher() override;

    void showPreferences();
    void showAbout();

  private:
    OptionsLogic &logic_;
    std::unique_ptr<OptionsDialog> options_;
    std::unique_ptr<AboutDialog> about_;
};

} // namespace corvantle
