// The converter's desktop program: the main window with its about box and options dialog, over
// the converter component. Files named on the command line ("Open with" of a file manager, or
// `daziziz FILE...`) are added to the list at start-up, after the queue saved by the last run;
// folders add the media files in them, and a named file that is missing gets a row that says so.
// The window speaks the system's language when a translation of it is at hand.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/DroppedFiles.h"
#include "app/widgets/ApplicationForms.h"
#include "app/widgets/ApplicationIcon.h"
#include "app/widgets/ComponentBackend.h"
#include "binding/ProgramFolders.h"

namespace {

// Installs the translation of the program's texts for the system's languages, the first
// daziziz_LANG.qm found in translations/ beside the program (build folder) or in the installed
// data folder, and Qt's own for its standard buttons and dialogs. Without one the texts stay
// English.
void InstallTranslations(QCoreApplication& application) {
    const QLocale locale;
    auto* qtTexts = new QTranslator(&application);
    if (qtTexts->load(locale, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTexts);
    auto* ownTexts = new QTranslator(&application);
    for (const std::string& folder : ProgramFileFolders(TProgramFiles::Data)) {
        if (ownTexts->load(locale, "daziziz", "_",
                           QString::fromStdString(folder) + "/translations")) {
            QCoreApplication::installTranslator(ownTexts);
            return;
        }
    }
}

// The command line's options and arguments; the same for --help without a display.
void DescribeCommandLine(QCommandLineParser& parser) {
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Converts video and sound files for players and phones."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QCoreApplication::translate("main", "files"),
        QCoreApplication::translate("main", "Media files or folders to add to the list."),
        QCoreApplication::translate("main", "[FILE...]"));
}

void NameTheProgram() {
    // The name desktops match with org.vavuror.Daziziz.desktop (and, on X11, the window class
    // of StartupWMClass); the window's caption is its own.
    QCoreApplication::setApplicationName("daziziz");
    // With the organisation, the data folder (saved queue, presets) is ~/.local/share/Vavuror/
    // daziziz, where daziziz-cli looks for the presets too.
    QCoreApplication::setOrganizationName("Vavuror");
    QCoreApplication::setApplicationVersion(DZ_VERSION);
}

// --help and --version print and end before anything needs a display: the window's
// application would fail without one.
bool AsksOnlyForText(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--") return false;
        if (argument == "-h" || argument == "--help" || argument == "--help-all" ||
            argument == "-v" || argument == "--version" || argument == "-?") {
            return true;
        }
    }
    return false;
}

int PrintTextAndEnd(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    NameTheProgram();
    InstallTranslations(application);
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    parser.process(application);  // prints and ends the program
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (AsksOnlyForText(argc, argv)) return PrintTextAndEnd(argc, argv);
    QApplication application(argc, argv);
    NameTheProgram();
    QGuiApplication::setDesktopFileName("org.vavuror.Daziziz");
    QApplication::setWindowIcon(ApplicationIcon());
    InstallTranslations(application);

    QCommandLineParser parser;
    DescribeCommandLine(parser);
    parser.process(application);

    // The converter outlives the windows, which detach from its events when they go.
    TComponentBackend converter;
    TApplicationForms forms(&converter);
    if (!forms.MainWindow->LibrariesLoaded()) return 1;
    forms.MainWindow->RestoreQueue();
    forms.MainWindow->show();

    std::vector<std::string> named;
    for (const QString& path : parser.positionalArguments()) {
        named.push_back(QFileInfo(path).absoluteFilePath().toStdString());
    }
    if (!named.empty()) {
        // Added once the window is on screen, so that the rows appear as each file is read.
        QTimer::singleShot(0, forms.MainWindow.get(), [&forms, named] {
            QStringList files;
            for (const std::string& file : ExpandDroppedPaths(named)) {
                files.append(QString::fromStdString(file));
            }
            forms.MainWindow->AddFiles(files);
        });
    }
    return QApplication::exec();
}
