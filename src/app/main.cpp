// The converter's desktop program: the main window with its about box and options dialog.
#include <QApplication>

#include "app/widgets/ApplicationForms.h"
#include "app/widgets/ApplicationIcon.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The name desktops match with daziziz.desktop; the window's caption is its own.
    QApplication::setApplicationName("daziziz");
    QGuiApplication::setDesktopFileName("daziziz");
    QApplication::setWindowIcon(ApplicationIcon());

    // No converter component is part of the program yet: the window adds and probes files but
    // cannot convert them.
    TApplicationForms forms(nullptr);
    if (!forms.Form1->LibrariesLoaded()) return 1;
    forms.Form1->show();
    return QApplication::exec();
}
