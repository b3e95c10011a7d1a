// The About box (frmAbout): title, version, description and disclaimer.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class frmAbout;
}

namespace corvantle {

class AboutDialog final : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;

    // Opens the box afresh, or only brings it to the front when it is open already.
    void openOrRaise();

  private:
    void showVersion();

    std::unique_ptr<Ui::frmAbout> ui_;
};

} // namespace corvantle
