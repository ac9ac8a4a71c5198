// The program's windows, created in their order: the main window, the about box, then the
// options dialog (which reads the settings into the main window's controls).
#pragma once

#include <memory>

#include "app/widgets/AboutBox.h"
#include "app/widgets/MainWindow.h"
#include "app/widgets/OptionsDialog.h"

class TConversionBackend;

struct TApplicationForms {
    // When the media libraries cannot be loaded the user has been told, only Form1 exists and
    // the program ends.
    explicit TApplicationForms(TConversionBackend* backend);

    // Declared in creation order; destroyed in reverse, the dialogs before their parent.
    std::unique_ptr<TForm1> Form1;
    std::unique_ptr<TFormAbout> FormAbout;
    std::unique_ptr<TForm4> Form4;
};
