// The program's windows, created in their order: the main window, the about box, then the
// options dialog, whose coming reads the stored settings into the main window and the dialog.
#pragma once

#include <memory>

#include "app/widgets/AboutBox.h"
#include "app/widgets/MainWindow.h"
#include "app/widgets/OptionsDialog.h"

class TConversionBackend;

struct TApplicationForms {
    // When the media libraries cannot be loaded the user has been told, only MainWindow exists and
    // the program ends.
    explicit TApplicationForms(TConversionBackend* backend);

    // Declared in creation order; destroyed in reverse, the dialogs before their parent.
    std::unique_ptr<TMainWindow> MainWindow;
    std::unique_ptr<TFormAbout> FormAbout;
    std::unique_ptr<TOptionsDialog> OptionsDialog;
};
