// The texts app/core keeps in English and the window shows through tr(), named here for the
// translation tools in the main window's context.
#include <QtGlobal>
#include <string_view>

#include "app/core/FileListTexts.h"
#include "app/core/ParameterReaders.h"
#include "app/core/ProbeFacts.h"
#include "app/core/QueueProgress.h"
#include "app/core/UserData.h"
#include "app/widgets/MainWindow.h"

namespace {

// The core's group headings, listed here so that the translation tools find them; the window
// shows each through tr().
[[maybe_unused]] constexpr const char* kHeadingTexts[] = {
    QT_TRANSLATE_NOOP("TMainWindow", "Phone"),
    QT_TRANSLATE_NOOP("TMainWindow", "Web upload"),
    QT_TRANSLATE_NOOP("TMainWindow", "Keep quality"),
    QT_TRANSLATE_NOOP("TMainWindow", "Small file"),
    QT_TRANSLATE_NOOP("TMainWindow", "Audio"),
    QT_TRANSLATE_NOOP("TMainWindow", "Lossless"),
    QT_TRANSLATE_NOOP("TMainWindow", "Video files (older formats)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Audio files (older formats)"),
    QT_TRANSLATE_NOOP("TMainWindow", "iPod"),
    QT_TRANSLATE_NOOP("TMainWindow", "Apple TV"),
    QT_TRANSLATE_NOOP("TMainWindow", "iPod Touch"),
    QT_TRANSLATE_NOOP("TMainWindow", "iPhone"),
    QT_TRANSLATE_NOOP("TMainWindow", "Zune"),
    QT_TRANSLATE_NOOP("TMainWindow", "PlayStation (PSP, PS3)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Other players (Archos, BlackBerry, Creative, iRiver)"),
};

// The texts app/core keeps in English (its tests and the saved queue compare them) and the window
// shows through tr(): named here for the translation tools, each checked against its constant.
// The catalogue's entries and the product's name are never translated.
constexpr bool Same(std::string_view a, std::string_view b) {
    return a == b;
}
static_assert(Same(kMsgAddFiles, QT_TRANSLATE_NOOP("TMainWindow", "Please Add Files To Convert!")));
static_assert(Same(kMsgSelectOutputFolder,
                   QT_TRANSLATE_NOOP("TMainWindow", "Please select an output folder!")));
static_assert(Same(kMsgStopAllConversions,
                   QT_TRANSLATE_NOOP("TMainWindow", "Stop all conversions?")));
static_assert(Same(kMsgAllConversionsCompleted,
                   QT_TRANSLATE_NOOP("TMainWindow", "All Conversions Completed")));
static_assert(Same(kMsgFailToAddFile,
                   QT_TRANSLATE_NOOP("TMainWindow", "Fail to add file to list!")));
static_assert(Same(kMsgLibrariesMissing,
                   QT_TRANSLATE_NOOP("TMainWindow",
                                     "Some files are missing. Please re-install this software")));
static_assert(Same(kMsgConversionUnavailable,
                   QT_TRANSLATE_NOOP("TMainWindow",
                                     "Conversion is not available in this build: the "
                                     "converter component is not part of it yet.")));
// The list's "Duration" cell (the list model shows it).
static_assert(Same(kDurationUnknown, QT_TRANSLATE_NOOP("TMainWindow", "Unknown")));
// The "Video Zoom" list (app/core's LetterBoxEntries()).
[[maybe_unused]] constexpr const char* kLetterBoxNames[] = {
    QT_TRANSLATE_NOOP("TMainWindow", "None"),
    QT_TRANSLATE_NOOP("TMainWindow", "LetterBox"),
};

// The open-file dialog's filter names (app/core's kOpenDialogFilter), shown through tr().
[[maybe_unused]] constexpr const char* kFilterNames[] = {
    QT_TRANSLATE_NOOP("TMainWindow", "All Supported Files"),
    QT_TRANSLATE_NOOP("TMainWindow", "3GPP Files (*.3gp)"),
    QT_TRANSLATE_NOOP("TMainWindow", "3GPP2 Files (*.3g2)"),
    QT_TRANSLATE_NOOP("TMainWindow", "AAC Files (*.aac)"),
    QT_TRANSLATE_NOOP("TMainWindow", "AC3 Files (*.ac3)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Audio CD Files (*.cda)"),
    QT_TRANSLATE_NOOP("TMainWindow", "AVI Files (*.avi)"),
    QT_TRANSLATE_NOOP("TMainWindow", "DV Video Files (*.dv, *.dif)"),
    QT_TRANSLATE_NOOP("TMainWindow", "DVD VOB Files (*.vob)"),
    QT_TRANSLATE_NOOP("TMainWindow", "FLAC Files (*.flac)"),
    QT_TRANSLATE_NOOP("TMainWindow", "GIF Animated Files (*.gif)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Macromedia Flash Files (*.flv, *.swf)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Matroska Files (*.mkv, *.mka)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Monkey Audio Files (*.ape, *.cue)"),
    QT_TRANSLATE_NOOP("TMainWindow", "MJpeg Video Files (*.mjpg, *.mjpeg)"),
    QT_TRANSLATE_NOOP("TMainWindow", "MP2 Files (*.mp2)"),
    QT_TRANSLATE_NOOP("TMainWindow", "MP3 Files (*.mp3)"),
    QT_TRANSLATE_NOOP("TMainWindow", "MPEG Files (*.mpeg, *.mpg, *.mpa, *.m1v, *.mv2)"),
    QT_TRANSLATE_NOOP("TMainWindow", "MPEG Transport Streams (*.ts, *.m2ts, *.mts)"),
    QT_TRANSLATE_NOOP("TMainWindow", "MPEG-4 Files (*.mp4, *.m4v)"),
    QT_TRANSLATE_NOOP("TMainWindow", "MPEG-4 Audio Files (*.m4a, *.mp4)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Ogg Files (*.ogg, *.oga, *.ogv, *.opus)"),
    QT_TRANSLATE_NOOP("TMainWindow", "RealMedia Files (*.rm, *.rmvb, *.ram, *.ra)"),
    QT_TRANSLATE_NOOP("TMainWindow", "QuickTime Files (*.mov, *.qt)"),
    QT_TRANSLATE_NOOP("TMainWindow", "VCD DAT Files (*.dat)"),
    QT_TRANSLATE_NOOP("TMainWindow", "WAV Files (*.wav, *.au, *.aiff)"),
    QT_TRANSLATE_NOOP("TMainWindow", "WebM Files (*.webm)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Windows Media Files(*.wma, *.wmv, *.asf, *.asx)"),
    QT_TRANSLATE_NOOP("TMainWindow", "All Files (*)"),
};

}  // namespace
