#include "app/core/FileListTexts.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "binding/FFmpegLibs.h"

namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
        parts.push_back(text.substr(start, at - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

}  // namespace

const std::vector<TListColumn>& FileListColumns() {
    static const std::vector<TListColumn> columns = {
        {"Video File Name", 310, false},
        {"Video Size", 90, true},
        {"FrameRate", 80, true},
        {"Duration", 60, true},
        {"Output", 65, true},
        {"Progress", 100, true},  // "Done with errors"
        {"Frames", 60, true},
        {"Status", 197, false},  // the last column: it takes what is left
    };
    return columns;
}

std::string VideoSizeText(bool hasVideo, int width, int height) {
    if (!hasVideo) return " ";
    return std::to_string(width) + "x" + std::to_string(height);
}

std::string FrameRateText(bool hasVideo, int num, int den, char decimalSeparator) {
    if (!hasVideo || den == 0) return " ";
    // Hundredths, rounded half to even (the default rounding mode).
    const auto hundredths = static_cast<std::int64_t>(std::nearbyint(num * 100.0 / den));
    const std::uint64_t magnitude = hundredths < 0 ? 0 - static_cast<std::uint64_t>(hundredths)
                                                   : static_cast<std::uint64_t>(hundredths);
    std::string text = (hundredths < 0 ? "-" : "") + std::to_string(magnitude / 100);
    const unsigned fraction = magnitude % 100;
    if (fraction != 0) {
        text += decimalSeparator;
        text += static_cast<char>('0' + fraction / 10);
        if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
    }
    return text;
}

std::string DurationText(std::int64_t durationUs) {
    if (durationUs < 0) return kDurationUnknown;
    const std::int64_t seconds = durationUs / 1000000;
    const std::int64_t minutes = seconds / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64 ":%02" PRId64, minutes / 60,
                  minutes % 60, seconds % 60);
    return text;
}

int ProgressPosition(std::int64_t currentMs, std::int64_t totalMs) {
    if (totalMs <= 0) return 0;
    return static_cast<int>(currentMs * 100 / totalMs);
}

int ProgressPercent(std::int64_t currentMs, std::int64_t totalMs) {
    return std::clamp(ProgressPosition(currentMs, totalMs), 0, 100);
}

std::string ProgressText(std::int64_t currentMs, std::int64_t totalMs) {
    return std::to_string(ProgressPercent(currentMs, totalMs)) + "%";
}

const char* RowStateText(TRowState state) {
    switch (state) {
        case TRowState::Waiting:
        case TRowState::Converting:
            return "";
        case TRowState::Done:
            return "Done";
        case TRowState::DoneWithErrors:
            return "Done with errors";
        case TRowState::Failed:
            return "Fail";
        case TRowState::Stopped:
            return "Abort";
        case TRowState::Unreadable:
            return "Error";
    }
    return "";
}

std::string ProgressCellText(TRowState state, int percent) {
    if (state == TRowState::Converting) return std::to_string(percent) + "%";
    return RowStateText(state);
}

std::string FramesText(std::int64_t frameNumber) {
    return frameNumber == -1 ? " " : std::to_string(frameNumber);
}

std::string FileSizeText(std::int64_t bytes) {
    return "File Size : " + ByteSizeText(bytes);
}

// The first pair holds every extension of the others; "All files" comes last, for names the
// list does not know that the libraries still read.
const char* const kOpenDialogFilter =
    "All Supported Files|*.avi;*.mpeg;*.mpg;*.mpa;*.m1v;*.mv2;*.wma;*.wmv;*.asf;*.asx;*.mov;"
    "*.qt;*.3gp;*.3g2;*.mp3;*.mp2;*.ogg;*.oga;*.ogv;*.opus;*.aac;*.mp4;*.m4a;*.m4v;*.rm;*.rmvb;"
    "*.ram;*.ra;*.vob;*.dat;*.cda;*.dv;*.dif;*.wav;*.au;*.aiff;*.aif;*.mjpg;*.mjpeg;*.ac3;*.gif;"
    "*.swf;*.flv;*.flac;*.mkv;*.mka;*.webm;*.ts;*.m2ts;*.mts;*.m2t;*.ape;*.amr;*.caf;*.wv;*.mxf;"
    "*.nut;*.y4m;*.f4v;*.divx;*.xvid;*.mod;*.tod;*.evo;*.dts;*.eac3;*.mlp;*.thd;*.tta;*.w64|"
    "3GPP Files (*.3gp)|*.3gp|"
    "3GPP2 Files (*.3g2)|*.3g2|"
    "AAC Files (*.aac)|*.aac|"
    "AC3 Files (*.ac3)|*.ac3|"
    "Audio CD Files (*.cda)|*.cda|"
    "AVI Files (*.avi)|*.avi|"
    "DV Video Files (*.dv, *.dif)|*.dv;*.dif|"
    "DVD VOB Files (*.vob)|*.vob|"
    "FLAC Files (*.flac)|*.flac|"
    "GIF Animated Files (*.gif)|*.gif|"
    "Macromedia Flash Files (*.flv, *.swf)|*.flv; *.swf|"
    "Matroska Files (*.mkv, *.mka)|*.mkv;*.mka|"
    "Monkey Audio Files (*.ape, *.cue)|*.ape;*.cue|"
    "MJpeg Video Files (*.mjpg, *.mjpeg)|*.mjpg; *.mjpeg|"
    "MP2 Files (*.mp2)|*.mp2|"
    "MP3 Files (*.mp3)|*.mp3|"
    "MPEG Files (*.mpeg, *.mpg, *.mpa, *.m1v, *.mv2)|*.mpeg;*.mpg;*.mpa;*.m1v;*.mv2|"
    "MPEG Transport Streams (*.ts, *.m2ts, *.mts)|*.ts;*.m2ts;*.mts;*.m2t|"
    "MPEG-4 Files (*.mp4, *.m4v)|*.mp4;*.m4v|"
    "MPEG-4 Audio Files (*.m4a, *.mp4)|*.m4a; *.mp4|"
    "Ogg Files (*.ogg, *.oga, *.ogv, *.opus)|*.ogg;*.oga;*.ogv;*.opus|"
    "RealMedia Files (*.rm, *.rmvb, *.ram, *.ra)|*.rm; *.rmvb; *.ram; *.ra|"
    "QuickTime Files (*.mov, *.qt)|*.mov; *.qt|"
    "VCD DAT Files (*.dat)|*.dat|"
    "WAV Files (*.wav, *.au, *.aiff)|*.wav; *.au; *.aiff;*.aif;*.w64|"
    "WebM Files (*.webm)|*.webm|"
    "Windows Media Files(*.wma, *.wmv, *.asf, *.asx)|*.wma;*.wmv;*.asf;*.asx|"
    "All Files (*)|*|";

std::vector<TFileFilter> FixedDialogFilters() {
    std::vector<std::string> parts = Split(kOpenDialogFilter, '|');
    std::vector<TFileFilter> filters;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        TFileFilter filter{parts[i], {}};
        for (const std::string& pattern : Split(parts[i + 1], ';')) {
            if (!Trimmed(pattern).empty()) filter.Patterns.push_back(Trimmed(pattern));
        }
        filters.push_back(std::move(filter));
    }
    return filters;
}

std::vector<TFileFilter> OpenDialogFilters() {
    std::vector<TFileFilter> filters = FixedDialogFilters();
    // Whatever else the loaded libraries' demuxers name as their files' extensions, but for
    // plain text, which the text-art and subtitle demuxers name: a .txt file is no media file.
    if (AVFormatLoaded()) {
        std::vector<std::string>& supported = filters.front().Patterns;
        void* iteration = nullptr;
        while (const AVInputFormat* format = LibAVFormat.av_demuxer_iterate(&iteration)) {
            if (!format->extensions) continue;
            for (const std::string& extension : Split(format->extensions, ',')) {
                const std::string pattern = "*." + Trimmed(extension);
                if (pattern.size() > 2 && pattern != "*.txt" &&
                    std::find(supported.begin(), supported.end(), pattern) == supported.end())
                    supported.push_back(pattern);
            }
        }
    }
    return filters;
}

std::vector<std::string> OpenDialogFilterEntries() {
    std::vector<std::string> entries;
    for (const TFileFilter& filter : OpenDialogFilters()) {
        std::string patterns;
        for (const std::string& pattern : filter.Patterns) {
            patterns += (patterns.empty() ? "" : " ") + pattern;
        }
        entries.push_back(filter.Name + " (" + patterns + ")");
    }
    return entries;
}

std::string ByteSizeText(std::int64_t bytes) {
    if (bytes < 1024) return std::to_string(std::max<std::int64_t>(bytes, 0)) + " bytes";
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit >= 2 ? "%.2f %s" : "%.1f %s", value, kUnits[unit]);
    return text;
}
