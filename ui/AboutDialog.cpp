// The About box.
#include "AboutDialog.h"

#include "FormScaling.h"
#include "VersionLine.h"
#include "ui_frmAbout.h"

#include <QLabel>

namespace corvantle {

namespace {
// Where the box first appears: its client area's top-left corner on the screen.
constexpr int kFirstLeftPx = 156;
constexpr int kFirstTopPx = 129;
} // namespace

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent), ui_(std::make_unique<Ui::frmAbout>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const QSize clientSize = scaleChildren(*this, captionFitFactor(*this), size());
    setGeometry(kFirstLeftPx, kFirstTopPx, clientSize.width(), clientSize.height());
    setFixedSize(clientSize);

    for (QLabel *label : {ui_->lblTitle, ui_->lblVersion, ui_->lblDescription, ui_->lblDisclaimer}) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(palette);
    }
    connect(ui_->cmdOK, &QPushButton::clicked, this, &QDialog::accept);
}

AboutDialog::~AboutDialog() = default;

void AboutDialog::openOrRaise() {
    if (!isVisible()) {
        showVersion();
        show();
    }
    raise();
    activateWindow();
}

void AboutDialog::showVersion() {
    ui_->lblVersion->setText(
        versionLine(CORVANTLE_VERSION_MAJOR, CORVANTLE_VERSION_MINOR, CORVANTLE_VERSION_PATCH));
    ui_->cmdOK->setFocus();
}

} // namespace corvantle
