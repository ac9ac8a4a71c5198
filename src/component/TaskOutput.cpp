// Where a task's output lives while it is written and after: a hidden working name beside it,
// its own name once complete, a partial name for what a stopped or failed conversion kept; and
// whether the conversion was whole.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "binding/FFmpegLibs.h"
#include "component/Task.h"
#include "engine/EngineTypes.h"
#include "engine/LibraryErrors.h"
#include "probe/AVProbe.h"

namespace fs = std::filesystem;

namespace {

bool Taken(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// "dir/NAME" + middle + "EXT", numbered from "-1" on past names already taken.
std::string FreeNameBeside(const fs::path& output, const std::string& front,
                           const std::string& middle) {
    for (int n = 0;; ++n) {
        const fs::path candidate = output.parent_path() / (front + output.stem().string() + middle +
                                                           (n ? "-" + std::to_string(n) : "") +
                                                           output.extension().string());
        if (!Taken(candidate)) return candidate.string();
    }
}

// "00:10", or "1:02:03" from an hour on.
std::string ClockOf(int64_t us) {
    const int64_t seconds = std::max<int64_t>(us, 0) / 1000000;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(
            text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

// Whether the output name is a file of its own that can be written under another name first:
// not a pattern of numbered images, a protocol ("pipe:1") or something that is not a regular
// file (a device).
bool WritesOneFile(const std::string& fileName) {
    if (fileName.empty() || fileName == "-" || fileName.find('%') != std::string::npos)
        return false;
    const auto colon = fileName.find(':');
    if (colon != std::string::npos && fileName.find('/') > colon) return false;
    std::error_code error;
    const auto status = fs::status(fileName, error);
    return !fs::exists(status) || fs::is_regular_file(status);
}

// "00:00:02.000000000", as Matroska files tell each track's length; -1 for anything else.
int64_t ClockTextUs(const char* text) {
    unsigned hours = 0, minutes = 0;
    double seconds = 0;
    if (!text || std::sscanf(text, "%u:%u:%lf", &hours, &minutes, &seconds) != 3) return -1;
    return int64_t((hours * 3600.0 + minutes * 60.0 + seconds) * 1e6);
}

bool IsCover(const AVStream* stream) {
    return stream->disposition & AV_DISPOSITION_ATTACHED_PIC;
}

// How long a stream of the input lasts: its own length, the one its tags tell, or the file's
// when the file holds nothing but sound and pictures (subtitles may run on past them). -1 when
// none of these is known.
int64_t SourceStreamUs(const AVFormatContext* input, const AVStream* stream) {
    if (stream->duration > 0)
        return int64_t(double(stream->duration) * av_q2d(stream->time_base) * 1e6);
    if (const AVDictionaryEntry* tag =
            LibAVUtil.av_dict_get(stream->metadata, "DURATION", nullptr, 0))
        return ClockTextUs(tag->value);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVMediaType type = input->streams[i]->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_VIDEO) return -1;
    }
    return input->duration;
}

}  // namespace

int64_t LengthToleranceUs(int64_t sourceUs) {
    return std::max(kLengthToleranceUs,
                    static_cast<int64_t>(std::llround(double(sourceUs) * kLengthToleranceShare)));
}

std::string WorkingNameBeside(const std::string& output, const std::string& role) {
    return FreeNameBeside(fs::path(output), ".", "." + role);
}

std::string PartialNameOf(const std::string& output) {
    return FreeNameBeside(fs::path(output), "", ".partial");
}

std::string ConversionProblem(int64_t sourceUs, int64_t convertedUs, int32_t decodeErrors,
                              bool readError, int64_t damageUs) {
    const bool damaged = decodeErrors > 0 || readError;
    const bool cutShort =
        sourceUs > 0 && convertedUs >= 0 && sourceUs - convertedUs > LengthToleranceUs(sourceUs);
    if (!damaged && !cutShort) return {};
    std::string text;
    if (damaged) {
        text = "the input is damaged after " + ClockOf(damageUs);
        if (decodeErrors > 0)
            text += FormatText(" (%d part%s could not be decoded)", decodeErrors,
                               decodeErrors == 1 ? "" : "s");
    } else {
        text = "the input ends at " + ClockOf(convertedUs) + " of its " + ClockOf(sourceUs);
    }
    if (sourceUs > 0 && convertedUs >= 0)
        text += FormatText("; %.1f of %.1f s converted", double(convertedUs) / 1e6,
                           double(sourceUs) / 1e6);
    return text;
}

std::string TFFmpeg::BeginOutput(const std::string& fileName) {
    finalName_ = fileName;
    workName_ = WritesOneFile(fileName) ? WorkingNameBeside(fileName, "converting") : "";
    return workName_.empty() ? fileName : workName_;
}

void TFFmpeg::MeasureExpectedLength() {
    result_.SourceUs = -1;
    // Several inputs of sound or pictures are joined or mixed, and copied timestamps keep the
    // source's: neither says how long the output should be. Subtitle files beside the first
    // input add no length of their own.
    if (InputFileCount < 1 || OutputFileCount < 1 || CopyTimestamps) return;
    for (int i = 1; i < InputFileCount; ++i)
        for (unsigned k = 0; InputFiles[i].Context && k < InputFiles[i].Context->nb_streams; ++k)
            if (InputFiles[i].Context->streams[k]->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE)
                return;
    const AVFormatContext* input = InputFiles[0].Context.get();
    const AVFormatContext* output = OutputFiles[0].Context.get();
    // A length guessed from the bit rate (an MP3 without its frame count, say) may be off by
    // more than any tolerance.
    if (!input || !output || input->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE)
        return;
    // The longest source stream of each kind the output holds; a cover picture lasts nothing.
    int64_t longest = -1;
    for (unsigned o = 0; o < output->nb_streams; ++o) {
        const AVStream* written = output->streams[o];
        const AVMediaType type = written->codecpar->codec_type;
        if ((type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_VIDEO) || IsCover(written))
            continue;
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            const AVStream* source = input->streams[i];
            // With maps, only the tracks written count: a shorter sound track chosen among
            // longer ones is whole at its own length.
            bool mapped = StreamMapCount == 0;
            for (int m = 0; m < StreamMapCount; ++m)
                mapped |= StreamMaps[m].FileIndex == 0 && StreamMaps[m].StreamIndex == int(i);
            if (mapped && source->codecpar->codec_type == type && !IsCover(source))
                longest = std::max(longest, SourceStreamUs(input, source));
        }
    }
    if (longest <= 0) return;
    if (InputOptions.StartTime > 0) longest -= int64_t(InputOptions.StartTime) * 1000;
    if (RecordingTime != INT64_MAX) longest = std::min(longest, RecordingTime);
    result_.SourceUs = std::max<int64_t>(longest, 0);
}

namespace {

uint32_t LittleEndian(const unsigned char* bytes, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

// An animated WebP's length, µs: the sum of its frames' durations (milliseconds in each ANMF
// chunk); -1 when the file is not one. Its encoder writes the whole animation as one packet at
// the end, so the muxer's clock says nothing of it.
int64_t AnimatedWebPLengthUs(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return -1;
    unsigned char header[12];
    int64_t totalMs = -1;
    if (std::fread(header, 1, 12, file) == 12 && !std::memcmp(header, "RIFF", 4) &&
        !std::memcmp(header + 8, "WEBP", 4)) {
        unsigned char chunk[8 + 15];
        while (std::fread(chunk, 1, 8, file) == 8) {
            const uint32_t size = LittleEndian(chunk + 4, 4);
            long skip = long(size + (size & 1));
            if (!std::memcmp(chunk, "ANMF", 4) && size >= 15) {
                if (std::fread(chunk + 8, 1, 15, file) != 15) break;
                totalMs = std::max<int64_t>(totalMs, 0) + LittleEndian(chunk + 8 + 12, 3);
                skip -= 15;
            }
            if (std::fseek(file, skip, SEEK_CUR) != 0) break;
        }
    }
    std::fclose(file);
    return totalMs < 0 ? -1 : totalMs * 1000;
}

}  // namespace

void TFFmpeg::MeasureConvertedLength() {
    result_.ConvertedUs = -1;
    if (OutputFileCount < 1 || !OutputFiles[0].Context) return;
    const AVFormatContext* output = OutputFiles[0].Context.get();
    int64_t reached = -1;
    for (unsigned o = 0; o < output->nb_streams && o < unsigned(MAX_STREAMS); ++o) {
        const AVStream* written = output->streams[o];
        const AVMediaType type = written->codecpar->codec_type;
        if ((type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_VIDEO) || IsCover(written))
            continue;
        const double end =
            written->codecpar->codec_id == AV_CODEC_ID_WEBP
                ? double(AnimatedWebPLengthUs(output->url ? output->url : ""))
                : double(OutputFiles[0].Streams[o].MuxedEndTime) * av_q2d(written->time_base) * 1e6;
        reached = std::max(reached, int64_t(end));
    }
    result_.ConvertedUs = reached;
}

bool TFFmpeg::Plays(const std::string& path) {
    TAVProbe probe;
    if (!probe.LoadFile(path)) return false;
    TAVFileInfo info;
    probe.GetFileInfo(info);
    return info.Duration > 0;
}

void TFFmpeg::SettleOutput() {
    result_.DecodeErrors = DecodeErrors;
    const bool whole = IsCompleted() && !HasError();
    if (whole)
        result_.Problem = ConversionProblem(result_.SourceUs, result_.ConvertedUs, DecodeErrors,
                                            ReadError != 0, FirstDamageUs);
    if (workName_.empty()) {
        // Written under its own name, or by the fit's passes (which keep what a stop left).
        if (whole) result_.OutputFile = finalName_;
        return;
    }
    std::error_code error;
    if (FileSize(workName_) <= 0) {
        // Nothing was written (a task stopped before it began): nothing to keep.
        fs::remove(workName_, error);
        return;
    }
    if (whole) {
        fs::rename(workName_, finalName_, error);
        if (!error) {
            result_.OutputFile = finalName_;
            return;
        }
        SetError(FormatText("Cannot give the output its name %s: %s", finalName_.c_str(),
                            error.message().c_str()));
        Completed = false;
    }
    if (KeepPartial(workName_)) return;
    fs::remove(workName_, error);
    DoLog(1, "The unfinished output " + finalName_ + " was removed: it does not play");
}

bool TFFmpeg::KeepPartial(const std::string& unfinished) {
    if (!Plays(unfinished)) return false;
    const std::string partial = PartialNameOf(finalName_);
    std::error_code error;
    fs::rename(unfinished, partial, error);
    if (error) return false;
    result_.OutputFile = partial;
    result_.Partial = true;
    DoLog(1, "What was converted is kept as " + partial);
    return true;
}

std::string TFFmpeg::WithOwnName(std::string text) const {
    if (workName_.empty()) return text;
    for (auto at = text.find(workName_); at != std::string::npos;
         at = text.find(workName_, at + finalName_.size()))
        text.replace(at, workName_.size(), finalName_);
    return text;
}
