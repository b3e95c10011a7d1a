// Opens the Preferences and About dialogs from the main window's menus.
#include "DialogLauncher.h"

#include "AboutDialog.h"
#include "MainForm.h"
#include "OptionsDialog.h"

namespace corvantle {

DialogLauncher::DialogLauncher(MainForm &form, OptionsLogic &logic) : logic_(logic) {
    connect(&form, &MainForm::preferencesRequested, this, &DialogLauncher::showPreferences);
    connect(&form, &MainForm::aboutRequested, this, &DialogLauncher::showAbout);
}

DialogLauncher::~DialogLauncher() = default;

void DialogLauncher::showPreferences() {
    if (!options_)
        options_ = std::make_unique<OptionsDialog>(logic_);
    options_->openOrRaise();
}

void DialogLauncher::showAbout() {
    if (!about_)
        about_ = std::make_unique<AboutDialog>();
    about_->openOrRaise();
}

} // namespace corvantle
