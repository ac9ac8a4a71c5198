// The converter's desktop program: the main window with its about box and options dialog, over
// the converter component. Files named on the command line ("Open with" of a file manager, or
// `daziziz FILE...`) are added to the list at start-up, after the queue saved by the last run;
// folders add the media files in them, and a named file that is missing gets a row that says so.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QTimer>
#include <string>
#include <vector>

#include "app/core/DroppedFiles.h"
#include "app/widgets/ApplicationForms.h"
#include "app/widgets/ApplicationIcon.h"
#include "app/widgets/ComponentBackend.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The name desktops match with daziziz.desktop; the window's caption is its own.
    QApplication::setApplicationName("daziziz");
    // With the organisation, the data folder (saved queue, presets) is ~/.local/share/Vavuror/
    // daziziz, where daziziz-cli looks for the presets too.
    QApplication::setOrganizationName("Vavuror");
    QApplication::setApplicationVersion(DZ_VERSION);
    QGuiApplication::setDesktopFileName("daziziz");
    QApplication::setWindowIcon(ApplicationIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QApplication::translate("main", "Converts video and sound files for players and phones."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        "files", QApplication::translate("main", "Media files or folders to add to the list."),
        "[FILE...]");
    parser.process(application);

    // The converter outlives the windows, which detach from its events when they go.
    TComponentBackend converter;
    TApplicationForms forms(&converter);
    if (!forms.Form1->LibrariesLoaded()) return 1;
    forms.Form1->RestoreQueue();
    forms.Form1->show();

    std::vector<std::string> named;
    for (const QString& path : parser.positionalArguments()) {
        named.push_back(QFileInfo(path).absoluteFilePath().toStdString());
    }
    if (!named.empty()) {
        // Added once the window is on screen, so that the rows appear as each file is read.
        QTimer::singleShot(0, forms.Form1.get(), [&forms, named] {
            QStringList files;
            for (const std::string& file : ExpandDroppedPaths(named)) {
                files.append(QString::fromStdString(file));
            }
            forms.Form1->AddFiles(files);
        });
    }
    return QApplication::exec();
}
