// The Preferences dialog (frmOptions).
//
// It moves texts and check states between its controls and OptionsFields; what they mean, and what OK
// does with them, is OptionsLogic's business. Its settings stand on four pages (the station, the packet
// engine, the link to the cluster, the telnet clients) above OK and Cancel, so it fits a small screen;
// each page scrolls where a large font needs more room than the screen has. While the AGW engine is chosen
// (as it opens, and each time it is chosen again) it asks that engine for its radio ports and offers them in
// the radio port field, which also takes a typed number; a KISS TNC names no ports, so with KISS the field
// takes the number alone.
#pragma once

#include <QDialog>

#include <memory>
#include <vector>

namespace Ui {
class frmOptions;
}

namespace corvantle {

class EnginePortQuery;
class OptionsLogic;
enum class OptionsField;
struct EnginePortList;
struct OptionsFields;
struct RadioPortChoice;

class OptionsDialog final : public QDialog {
    Q_OBJECT
  public:
    explicit OptionsDialog(OptionsLogic &logic, QWidget *parent = nullptr);
    ~OptionsDialog() override;

    // Opens the dialog filled from the bridge, or only brings it to the front when it is open already.
    void openOrRaise();

  private:
    void setUpKissLinkFields();
    void nameFieldsByTheirLabels();
    void fitToScreen();
    void showCurrentValues();
    bool kissChosen() const;
    void onEngineKindChosen();
    void offerRadioPorts();
    void askForRadioPorts();
    void listRadioPorts(const std::vector<RadioPortChoice> &choices);
    void showRadioPorts(const EnginePortList &list, const QString &engine);
    void updateDelayRow();
    void updateEngineGroups();
    void onDigipeaterBoxClicked();
    void onOk();
    OptionsFields fields() const;
    QWidget *fieldWidget(OptionsField field) const;
    void bringToFront(QWidget *field);

    std::unique_ptr<Ui::frmOptions> ui_;
    OptionsLogic &logic_;
    std::unique_ptr<EnginePortQuery> portQuery_;
};

} // namespace corvantle
