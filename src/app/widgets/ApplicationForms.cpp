#include "app/widgets/ApplicationForms.h"

TApplicationForms::TApplicationForms(TConversionBackend* backend)
    : MainWindow(std::make_unique<TMainWindow>(backend)) {
    if (!MainWindow->LibrariesLoaded()) return;
    FormAbout = std::make_unique<TFormAbout>(MainWindow.get());
    MainWindow->SetAboutBox(FormAbout.get());
    OptionsDialog = std::make_unique<TOptionsDialog>(MainWindow.get());
    MainWindow->SetOptionsDialog(OptionsDialog.get());
    MainWindow->RestoreWindowState();
}
