#include "binding/LibraryErrors.h"

#include <sys/stat.h>

#include <cstdio>
#include <vector>

#include "binding/FFmpegLibs.h"

namespace {

// Each text takes the name once, as its only argument.
const char* ErrorFormat(int errorCode, bool badImageSequenceName) {
    switch (errorCode) {
        case AVERROR_DEMUXER_NOT_FOUND:
        case AVERROR_MUXER_NOT_FOUND:
            return "%s: Unknown format";
        case AVERROR(EINVAL):
            if (badImageSequenceName)
                return "%s: Incorrect image filename syntax.\n"
                       "Use '%%d' to specify the image number:\n"
                       "  for img1.jpg, img2.jpg, ..., use 'img%%d.jpg';\n"
                       "  for img001.jpg, img002.jpg, ..., use 'img%%03d.jpg'.";
            return "%s: Error while parsing header";
        case AVERROR_INVALIDDATA:
            return "%s: Error while parsing header";
        case AVERROR(ENOMEM):
            return "%s: memory allocation error occurred";
        case AVERROR(EIO):
        case AVERROR_EOF:
            return "%s: I/O error occurred\n"
                   "Usually that means that input file is truncated and/or corrupted.";
        case AVERROR(ENOENT):
            return "%s: no such file or directory";
        default:
            return "%s: Error while opening file";
    }
}

// Whether the first bytes of the file show a format the libraries know by its content alone
// (its name plays no part).
bool FormatShownByContent(const std::string& fileName) {
    constexpr int kProbeBytes = 64 * 1024;
    std::vector<unsigned char> head(kProbeBytes + AVPROBE_PADDING_SIZE, 0);
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    if (!file) return false;
    const size_t read = std::fread(head.data(), 1, kProbeBytes, file);
    std::fclose(file);
    AVProbeData probe = {};
    probe.filename = "";
    probe.buf = head.data();
    probe.buf_size = static_cast<int>(read);
    int score = AVPROBE_SCORE_EXTENSION;
    return read > 0 && LibAVFormat.av_probe_input_format2(&probe, 1, &score) != nullptr;
}

}  // namespace

std::string LibraryErrorText(int errorCode, const std::string& name, bool badImageSequenceName) {
    const char* format = ErrorFormat(errorCode, badImageSequenceName);
    const int length = std::snprintf(nullptr, 0, format, name.c_str());
    std::string text(length > 0 ? length : 0, '\0');
    std::snprintf(text.data(), text.size() + 1, format, name.c_str());
    return text;
}

std::string OpenErrorText(int errorCode, const std::string& fileName) {
    // A header that ends before its end; or one that is not whole (Matroska reads it as an I/O
    // error) or not readable in a file whose first bytes are media.
    const bool endsEarly = errorCode == AVERROR_EOF;
    const bool unreadable = errorCode == AVERROR_INVALIDDATA || errorCode == AVERROR(EIO);
    if (!endsEarly && !(unreadable && FormatShownByContent(fileName)))
        return LibraryErrorText(errorCode, fileName);
    std::string text = LibraryErrorText(errorCode, fileName);
    // The first line is the libraries' word; the next one only guesses what ours says.
    text = text.substr(0, text.find('\n'));
    text.insert(fileName.size() + 2, "the file is incomplete or damaged: ");
    return text;
}

int64_t FileSize(const std::string& fileName) {
    struct stat status;
    if (stat(fileName.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    return status.st_size;
}
