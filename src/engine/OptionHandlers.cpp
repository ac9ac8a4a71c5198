// The typed setters and the keyword handlers that check or parse their values.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>

#include "engine/FFmpegOptions.h"

#include "engine/Loudness.h"

namespace {

// Room for the module name and its arguments that a frame hook is given.
constexpr int kMaxHookArguments = 64;
constexpr int kMatrixSize = 64;

int32_t ClampToInt32(long value) {
    return static_cast<int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

// Reads the integer at the text (decimal, "0x" hexadecimal or leading-zero octal) and moves
// past it; nothing is consumed when no number starts there.
int32_t ReadInteger(const char*& text) {
    char* end = nullptr;
    long value = MyUtil.strtol(text, &end, 0);
    if (end) text = end;
    return ClampToInt32(value);
}

void SkipSeparator(const char*& text) {
    if (*text) ++text;
}

// A matrix coefficient as atoi reads it, limited to what 16 bits hold.
uint16_t ReadCoefficient(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = *text == '-';
    if (*text == '+' || *text == '-') ++text;
    uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = std::min<uint32_t>(value * 10 + (*text - '0'), 65535);
    return negative ? 0 : static_cast<uint16_t>(value);
}

// The folder of the running program with its trailing separator; empty when unknown.
std::string ProgramFolder() {
    std::error_code ec;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !program.has_parent_path()) return std::string();
    return program.parent_path().string() + "/";
}

// Makes a folder current for the lifetime of the guard and restores the previous one after.
class TCurrentFolderGuard {
  public:
    explicit TCurrentFolderGuard(const std::filesystem::path& folder) {
        std::error_code ec;
        previous_ = std::filesystem::current_path(ec);
        if (ec) return;
        std::filesystem::current_path(folder, ec);
        changed_ = !ec;
    }
    bool Changed() const { return changed_; }
    ~TCurrentFolderGuard() {
        std::error_code ec;
        if (changed_) std::filesystem::current_path(previous_, ec);
    }
    TCurrentFolderGuard(const TCurrentFolderGuard&) = delete;
    TCurrentFolderGuard& operator=(const TCurrentFolderGuard&) = delete;

  private:
    std::filesystem::path previous_;
    bool changed_ = false;
};

// Puts a folder in front of the search path unless the path already names it.
void AddToSearchPath(const std::string& folder) {
    const char* current = getenv("PATH");
    std::string path = current ? current : "";
    if (path.find(folder) != std::string::npos) return;
    // An empty entry would mean the current folder: none is added for an empty path.
    std::string updated = path.empty() ? folder : folder + ":" + path;
    setenv("PATH", updated.c_str(), 1);
}

std::unique_ptr<char[]> CopyText(const std::string& text) {
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

}  // namespace

// ---- Formats.

std::string TFFmpegOptions::ResolveFormatName(const std::string& name) {
    // "pgmyuv" is the image-sequence format with its compatibility flag.
    if (name != "pgmyuv") return name;
    ImageSequenceCompat = 1;
    DoLog(1, "pgmyuv format is deprecated, use image2");
    return "image2";
}

void TFFmpegOptions::SetInputFormat(const std::string& name) {
    if (name.empty()) return;
    std::string resolved = ResolveFormatName(name);
    const AVInputFormat* format = LibAVFormat.av_find_input_format(resolved.c_str());
    if (!format) throw FFMpegException::Format("Unknown input format: %s", resolved.c_str());
    ForcedInputFormat = format;
}

void TFFmpegOptions::SetOutputFormat(const std::string& name) {
    if (name.empty()) return;
    std::string resolved = ResolveFormatName(name);
    const AVOutputFormat* format = LibAVFormat.av_guess_format(resolved.c_str(), nullptr, nullptr);
    if (!format) throw FFMpegException::Format("Unknown output format: %s", resolved.c_str());
    ForcedOutputFormat = format;
}

void TFFmpegOptions::SetFormat(const std::string& name) {
    if (name.empty()) return;
    std::string resolved = ResolveFormatName(name);
    const AVInputFormat* input = LibAVFormat.av_find_input_format(resolved.c_str());
    const AVOutputFormat* output = LibAVFormat.av_guess_format(resolved.c_str(), nullptr, nullptr);
    if (!input && !output)
        throw FFMpegException::Format("Unknown input or output format: %s", resolved.c_str());
    ForcedInputFormat = input;
    ForcedOutputFormat = output;
}

// ---- Plain setters with a range.

void TFFmpegOptions::SetVerbose(int32_t value) {
    Verbose = value;
    SetLibraryLogLevel(value);
}

void TFFmpegOptions::SetRecordingTimeMs(int32_t milliseconds) {
    if (milliseconds <= 0) return;
    RecordingTime = int64_t{milliseconds} * 1000;
    SourceDurationMs = milliseconds;
}

void TFFmpegOptions::ApplyRecordingTimeUs(int64_t microseconds) {
    const int64_t milliseconds = microseconds / 1000;
    if (milliseconds <= 0) return;
    if (milliseconds <= INT32_MAX) {
        SetRecordingTimeMs(static_cast<int32_t>(milliseconds));
        return;
    }
    // Longer than the millisecond count can say: keep the time exactly, report the most the
    // progress can show.
    RecordingTime = milliseconds * 1000;
    SourceDurationMs = INT32_MAX;
}

void TFFmpegOptions::SetStartTimeUs(int64_t microseconds) {
    if (microseconds > 0) StartTime = microseconds;
}

void TFFmpegOptions::SetProgramId(int32_t value) {
    if (value >= 0) ProgramId = value;
}

void TFFmpegOptions::SetAudioSampleRate(int32_t value) {
    if (value > 0) AudioSampleRate = value;
}

void TFFmpegOptions::SetAudioChannels(int32_t value) {
    if (value > 0) AudioChannels = value;
}

void TFFmpegOptions::SetAudioVolume(int32_t value) {
    if (value >= 0) AudioVolume = value;
}

void TFFmpegOptions::SetLoudness(const std::string& text) {
    if (!text.empty()) ParseLoudnessRequest(text);
    Loudness = text;
}

void TFFmpegOptions::SetAudioSyncMethod(int32_t value) {
    AudioSyncMethod = value;
}
void TFFmpegOptions::SetVideoSyncMethod(int32_t value) {
    VideoSyncMethod = value;
}

void TFFmpegOptions::SetMuxPreload(float seconds) {
    if (seconds > 0) MuxPreload = seconds;
}

void TFFmpegOptions::SetMuxMaxDelay(float seconds) {
    if (seconds > 0) MuxMaxDelay = seconds;
}

void TFFmpegOptions::SetYear(int32_t value) {
    if (value > 0) Year = value;
}

void TFFmpegOptions::SetTrack(int32_t value) {
    if (value > 0) Track = value;
}

void TFFmpegOptions::SetTitle(const std::string& text) {
    if (!text.empty()) Title = text;
}
void TFFmpegOptions::SetAuthor(const std::string& text) {
    if (!text.empty()) Author = text;
}
void TFFmpegOptions::SetCopyright(const std::string& text) {
    if (!text.empty()) Copyright = text;
}
void TFFmpegOptions::SetComment(const std::string& text) {
    if (!text.empty()) Comment = text;
}
void TFFmpegOptions::SetGenre(const std::string& text) {
    if (!text.empty()) Genre = text;
}
void TFFmpegOptions::SetAlbum(const std::string& text) {
    if (!text.empty()) Album = text;
}

// ---- Codecs.

void TFFmpegOptions::SetCodecName(std::string& codecName, int32_t& streamCopy,
                                  const std::string& value) {
    if (value.empty()) return;
    codecName.clear();
    // A later name leaves an earlier "copy" in force; the codec is looked up per stream.
    if (value == "copy")
        streamCopy = 1;
    else
        codecName = value;
}

void TFFmpegOptions::SetVideoCodec(const std::string& name) {
    SetCodecName(VideoCodecName, VideoStreamCopy, name);
}
void TFFmpegOptions::SetAudioCodec(const std::string& name) {
    SetCodecName(AudioCodecName, AudioStreamCopy, name);
}
void TFFmpegOptions::SetSubtitleCodec(const std::string& name) {
    SetCodecName(SubtitleCodecName, SubtitleStreamCopy, name);
}

void TFFmpegOptions::SetDisposition(int32_t& field, const std::string& text) {
    static const struct {
        const char* Word;
        int32_t Marks;
    } kWords[] = {{"none", 0},
                  {"default", AV_DISPOSITION_DEFAULT},
                  {"forced", AV_DISPOSITION_FORCED},
                  {"default+forced", AV_DISPOSITION_DEFAULT | AV_DISPOSITION_FORCED}};
    for (const auto& word : kWords)
        if (text == word.Word) {
            field = word.Marks;
            return;
        }
    throw FFMpegException("Invalid disposition '" + text +
                          "': none, default, forced or default+forced");
}

void TFFmpegOptions::SetCodecTag(uint32_t& tag, const std::string& value, const char* kind) {
    if (value.empty()) return;
    if (value.size() != 4)
        throw EAssertionFailed(std::string(kind) + " tag parameter must be 4 chars");
    tag = 0;
    for (int i = 3; i >= 0; --i) tag = (tag << 8) | static_cast<unsigned char>(value[i]);
}

void TFFmpegOptions::SetVideoTag(const std::string& tag) {
    SetCodecTag(VideoCodecTag, tag, "video");
}
void TFFmpegOptions::SetAudioTag(const std::string& tag) {
    SetCodecTag(AudioCodecTag, tag, "audio");
}

void TFFmpegOptions::SetBitRate(const std::string& keyword, const std::string& value) {
    if (keyword.empty() || value.empty()) return;
    if (!SetGenericOption(keyword, value)) return;
    AVCodecContext* context =
        CodecOptionContexts[keyword[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO].get();
    int64_t bitRate = 0;
    if (context && LibAVUtil.av_opt_get_int(context, "b", 0, &bitRate) >= 0 && bitRate > 0 &&
        bitRate < 1000)
        DoLog(1,
              "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not "
              "kbits/s");
}

void TFFmpegOptions::SetVideoQuantiserScale(float value) {
    if (!(value > 0 && value <= 255)) throw FFMpegException("qscale must be > 0.0 and <= 255");
    VideoQuantiserScale = value;
}

// ---- Picture geometry.

void TFFmpegOptions::SetFrameRate(const std::string& text) {
    if (text.empty()) return;
    AVRational rate{0, 0};
    if (LibAVUtil.av_parse_video_rate(&rate, text.c_str()) < 0)
        throw FFMpegException("Incorrect frame rate");
    FrameRate = rate;
}

void TFFmpegOptions::SetFrameSize(const std::string& text) {
    if (text.empty()) return;
    int width = 0, height = 0;
    if (LibAVUtil.av_parse_video_size(&width, &height, text.c_str()) < 0)
        throw FFMpegException("Incorrect frame size");
    FrameWidth = width;
    FrameHeight = height;
    if (width % 2 != 0 || height % 2 != 0)
        throw FFMpegException("Frame size must be a multiple of 2");
}

void TFFmpegOptions::SetFrameAspect(const std::string& text) {
    if (text.empty()) return;
    double ratio = 0.0;
    size_t colon = text.find(':');
    if (colon != std::string::npos) {
        int32_t x = TryParseIntValue(text.substr(0, colon)).value_or(0);
        int32_t y = TryParseIntValue(text.substr(colon + 1)).value_or(0);
        if (y > 0) ratio = static_cast<double>(x) / y;
    } else {
        ratio = TryParseFloatValue(text).value_or(0.0f);
    }
    if (ratio == 0.0) throw FFMpegException("Incorrect aspect ratio specification.");
    FrameAspectRatio = static_cast<float>(ratio);
}

void TFFmpegOptions::SetPixelFormat(const std::string& text) {
    if (text != "list") {
        FramePixelFormat = LibAVUtil.av_get_pix_fmt(text.c_str());
        return;
    }
    // A heading line (format -1), then one line per format the library knows.
    char line[128];
    for (int format = -1; format < 0 || LibAVUtil.av_pix_fmt_desc_get(AVPixelFormat(format));
         ++format) {
        LibAVUtil.av_get_pix_fmt_string(line, sizeof line, AVPixelFormat(format));
        DoLog(1, TrimText(line));
    }
}

void TFFmpegOptions::SetCrop(int32_t& band, int32_t& dimension, int32_t value, const char* side,
                             bool vertical) {
    if (value < 0) return;
    if (value % 2 != 0) throw FFMpegException::Format("%s crop size must be a multiple of 2", side);
    if (value >= dimension)
        throw FFMpegException(vertical ? "Vertical crop dimensions are outside the range of the "
                                         "original image.\nRemember to crop first and scale "
                                         "second."
                                       : "Horizontal crop dimensions are outside the range of "
                                         "the original image.\nRemember to crop first and "
                                         "scale second.");
    band = value;
    dimension -= value;
}

void TFFmpegOptions::SetCropTop(int32_t value) {
    SetCrop(CropTop, FrameHeight, value, "Top", true);
}
void TFFmpegOptions::SetCropBottom(int32_t value) {
    SetCrop(CropBottom, FrameHeight, value, "Bottom", true);
}
void TFFmpegOptions::SetCropLeft(int32_t value) {
    SetCrop(CropLeft, FrameWidth, value, "Left", false);
}
void TFFmpegOptions::SetCropRight(int32_t value) {
    SetCrop(CropRight, FrameWidth, value, "Right", false);
}

void TFFmpegOptions::SetPad(int32_t& band, int32_t value, const char* side) {
    if (value < 0) return;
    if (value % 2 != 0) throw FFMpegException::Format("%s pad size must be a multiple of 2", side);
    band = value;
}

void TFFmpegOptions::SetPadTop(int32_t value) {
    SetPad(PadTop, value, "Top");
}
void TFFmpegOptions::SetPadBottom(int32_t value) {
    SetPad(PadBottom, value, "Bottom");
}
void TFFmpegOptions::SetPadLeft(int32_t value) {
    SetPad(PadLeft, value, "Left");
}
void TFFmpegOptions::SetPadRight(int32_t value) {
    SetPad(PadRight, value, "Right");
}

void TFFmpegOptions::SetPadColor(uint32_t color) {
    // 10-bit fixed-point coefficients; the sums wrap in 32 bits and the shifts are logical,
    // so only the low byte of U is meaningful for reds. The padding uses the low byte only.
    const uint32_t r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
    PadColor[0] = static_cast<int32_t>((307u * r + 602u * g + 117u * b + 512u) >> 10);
    PadColor[1] = static_cast<int32_t>(((512u * b - 173u * r - 340u * g + 511u) >> 10) + 128u);
    PadColor[2] = static_cast<int32_t>(((512u * r - 429u * g - 84u * b + 511u) >> 10) + 128u);
}

// ---- Maps and times.

void TFFmpegOptions::AddStreamMap(const std::string& text) {
    if (StreamMapCount >= MAX_STREAM_MAPS)
        throw FFMpegException::Format("Too many stream maps (at most %d)", MAX_STREAM_MAPS);
    TStreamMap& map = StreamMaps[StreamMapCount++];
    const char* position = text.c_str();
    map.FileIndex = ReadInteger(position);
    SkipSeparator(position);
    map.StreamIndex = ReadInteger(position);
    if (*position) {
        ++position;
        map.SyncFileIndex = ReadInteger(position);
        SkipSeparator(position);
        map.SyncStreamIndex = ReadInteger(position);
    } else {
        map.SyncFileIndex = map.FileIndex;
        map.SyncStreamIndex = map.StreamIndex;
    }
}

void TFFmpegOptions::AddMetaDataMap(const std::string& text) {
    if (MetaDataMapCount >= MAX_META_DATA_MAPS)
        throw FFMpegException::Format("Too many meta-data maps (at most %d)", MAX_META_DATA_MAPS);
    TMetaDataMap& map = MetaDataMaps[MetaDataMapCount++];
    const char* position = text.c_str();
    map.OutFile = ReadInteger(position);
    SkipSeparator(position);
    map.InFile = ReadInteger(position);
}

void TFFmpegOptions::SetInputTimeScale(const std::string& text) {
    const char* position = text.c_str();
    char* end = nullptr;
    long stream = MyUtil.strtol(position, &end, 0);
    if (end) position = end;
    SkipSeparator(position);
    double scale = MyUtil.strtod(position, nullptr);
    if (stream < 0 || stream >= MAX_STREAMS)
        throw FFMpegException::Format("stream index over MAX_STREAMS(%d)", MAX_STREAMS);
    // The scale is for the input opened next; there is none after the last table entry.
    if (InputFileCount < 0 || InputFileCount >= MAX_FILES)
        throw FFMpegException::Format("input file index over MAX_FILES(%d)", MAX_FILES);
    // Timestamps are multiplied by the scale: only a finite one keeps them numbers.
    if (!std::isfinite(scale))
        throw FFMpegException::Format("Invalid timestamp scale for stream %ld: %s", stream,
                                      text.c_str());
    InputTimeScales[InputFileCount][stream] = scale;
}

void TFFmpegOptions::SetTimeOption(const std::string& keyword, const std::string& value) {
    const bool isDate = keyword == "timestamp";
    int64_t microseconds = 0;
    if (LibAVUtil.av_parse_time(&microseconds, value.c_str(), isDate ? 0 : 1) < 0)
        throw FFMpegException::Format("Invalid %s specification for %s: %s",
                                      isDate ? "date" : "duration", keyword.c_str(), value.c_str());
    if (keyword == "t")
        ApplyRecordingTimeUs(microseconds);
    else if (keyword == "ss")
        StartTime = microseconds;
    else if (keyword == "itsoffset")
        InputTimeOffset = microseconds;
    else  // seconds, rounded half to even
        RecordingTimestamp = std::llrint(static_cast<double>(microseconds) / 1000000.0);
}

// ---- Two-pass, matrices, statistics file.

void TFFmpegOptions::SetPass(int32_t value) {
    if (value != 1 && value != 2) throw FFMpegException("pass number can be only 1 or 2");
    Pass = value;
}

void TFFmpegOptions::SetMatrix(std::vector<uint16_t>& matrix, const std::string& text) {
    std::vector<uint16_t> coefficients(kMatrixSize, 0);
    const char* position = text.c_str();
    for (int i = 0;; ++i) {
        coefficients[i] = ReadCoefficient(position);
        if (i == kMatrixSize - 1) break;
        position = std::strchr(position, ',');
        if (!position)
            throw FFMpegException::Format("Syntax error in matrix \"%s\" at coeff %d", text.c_str(),
                                          i);
        ++position;
    }
    matrix = std::move(coefficients);
}

void TFFmpegOptions::SetDefaultVideoStatsFile() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02d%02d%02d", local.tm_hour, local.tm_min, local.tm_sec);
    VideoStatsFileName = ProgramFolder() + "vstats_" + clock + ".log";
}

void TFFmpegOptions::SetVideoStatsFile(const std::string& name) {
    VideoStatsFileName = name;
}

// ---- Frame hooks.

void TFFmpegOptions::AddVideoHook(const std::string& value) {
    // The modules keep pointers into their argument texts: the copies live as long as the
    // chain does.
    std::vector<std::unique_ptr<char[]>> texts;
    texts.push_back(CopyText(value));
    char* copy = texts.back().get();
    const char* separator = std::strchr(copy, '|') ? "|" : " ";

    char* arguments[kMaxHookArguments] = {};
    int count = 0;
    char* state = nullptr;
    for (char* token = MyUtil.strtok_r(copy, separator, &state); token && count < kMaxHookArguments;
         token = count < kMaxHookArguments ? MyUtil.strtok_r(nullptr, separator, &state) : nullptr)
        arguments[count++] = token;

    // A module in a folder of its own is configured with that folder current, so that it
    // finds the files beside it. Its name becomes absolute first: a relative one would no
    // longer lead to it from there.
    std::filesystem::path moduleFolder;
    if (count > 0) {
        std::filesystem::path module(arguments[0]);
        if (module.has_parent_path()) {
            std::error_code ec;
            std::filesystem::path absolute = std::filesystem::absolute(module, ec);
            if (!ec) {
                texts.push_back(CopyText(absolute.string()));
                arguments[0] = texts.back().get();
                moduleFolder = absolute.parent_path();
            }
        }
    }

    int result;
    {
        std::optional<TCurrentFolderGuard> folderGuard;
        if (!moduleFolder.empty()) {
            folderGuard.emplace(moduleFolder);
            if (folderGuard->Changed()) AddToSearchPath(moduleFolder.string());
        }
        result = AddFrameHook(FrameHooks, count, arguments, kMaxHookArguments - 1);
    }
    if (result != 0) throw FFMpegException("Failed to add video hook function: " + value);

    for (auto& text : texts) FrameHookArguments.push_back(std::move(text));
    FrameHooksInUse = true;
}

// ---- Left to the engine.

void TFFmpegOptions::SetTarget(const std::string&, const std::string&, const std::string&) {
    throw FFMpegException("Target presets are not available yet");
}

void TFFmpegOptions::ParseTarget(const std::string&) {
    throw FFMpegException("Target presets are not available yet");
}

void TFFmpegOptions::NewVideoStream() {
    throw FFMpegException("Adding streams to an output file is not available yet");
}

void TFFmpegOptions::NewAudioStream() {
    throw FFMpegException("Adding streams to an output file is not available yet");
}

void TFFmpegOptions::NewSubtitleStream() {
    throw FFMpegException("Adding streams to an output file is not available yet");
}
