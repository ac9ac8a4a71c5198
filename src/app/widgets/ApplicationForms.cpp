#include "app/widgets/ApplicationForms.h"

TApplicationForms::TApplicationForms(TConversionBackend* backend)
    : Form1(std::make_unique<TForm1>(backend)) {
    if (!Form1->LibrariesLoaded()) return;
    FormAbout = std::make_unique<TFormAbout>(Form1.get());
    Form1->SetAboutBox(FormAbout.get());
    Form4 = std::make_unique<TForm4>(Form1.get());
    Form1->SetOptionsDialog(Form4.get());
    Form1->RestoreWindowState();
}
