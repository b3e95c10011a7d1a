// The Preferences dialog (frmOptions).
//
// It moves texts and check states between its controls and OptionsFields; what they mean, and what OK
// does with them, is OptionsLogic's business.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class frmOptions;
}

namespace corvantle {

class OptionsLogic;
struct OptionsFields;

class OptionsDialog final : public QDialog {
    Q_OBJECT
  public:
    explicit OptionsDialog(OptionsLogic &logic, QWidget *parent = nullptr);
    ~OptionsDialog() override;

    // Opens the dialog filled from the bridge, or only brings it to the front when it is open already.
    void openOrRaise();

  private:
    void showCurrentValues();
    void updateDelayRow();
    void onDigipeaterBoxClicked();
    void onOk();
    OptionsFields fields() const;

    std::unique_ptr<Ui::frmOptions> ui_;
    OptionsLogic &logic_;
};

} // namespace corvantle
