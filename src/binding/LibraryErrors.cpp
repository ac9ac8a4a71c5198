#include "binding/LibraryErrors.h"

#include <sys/stat.h>

#include <cstdio>
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

}  // namespace

std::string LibraryErrorText(int errorCode, const std::string& name, bool badImageSequenceName) {
    const char* format = ErrorFormat(errorCode, badImageSequenceName);
    const int length = std::snprintf(nullptr, 0, format, name.c_str());
    std::string text(length > 0 ? length : 0, '\0');
    std::snprintf(text.data(), text.size() + 1, format, name.c_str());
    return text;
}

int64_t FileSize(const std::string& fileName) {
    struct stat status;
    if (stat(fileName.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    return status.st_size;
}
