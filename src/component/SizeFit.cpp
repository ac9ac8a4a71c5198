#include "component/SizeFit.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

struct TUnit {
    const char* Name;  // upper case
    double Bytes;
};
// A number alone is no size: "8" is far more often 8 MB meant than 8 bytes.
constexpr TUnit kUnits[] = {
    {"B", 1},
    {"K", 1e3},
    {"KB", 1e3},
    {"KIB", 1024.0},
    {"KI", 1024.0},
    {"M", 1e6},
    {"MB", 1e6},
    {"MIB", 1048576.0},
    {"MI", 1048576.0},
    {"G", 1e9},
    {"GB", 1e9},
    {"GIB", 1073741824.0},
    {"GI", 1073741824.0},
};

// What a container adds to the media, measured on files the libraries' muxers wrote (the file's
// bytes less the sum of its packets, over clips of 10 to 60 s with and without sound):
// - MP4/MOV: about 1.5 kB of boxes and, per sample, its size, its time offset (B-frames) and
//   its chunk's offset: 12 bytes for a picture, 12 for a sound packet interleaved with
//   pictures, 5 for sound alone (long chunks);
// - MKV/WebM: about 1 kB of headers and cues, 8 bytes a block;
// - MPEG transport streams: the tables repeated ten times a second (about 4 kB a second), per
//   picture its PES header, clock and the stuffing of its last 188-byte packet (about 120
//   bytes), sound PES packets gathering several frames (10 bytes each), and 4 bytes of header
//   in every 188 (2.2%).
// The other formats' figures are estimates on the safe side.
struct TContainerCost {
    const char* FormatKeys;  // space-separated, each with a space after it
    int64_t FixedBytes;
    double BytesPerSecond;
    int64_t PerPicture;
    int64_t PerSoundPacket;       // sound interleaved with pictures
    int64_t PerSoundPacketAlone;  // a file of sound only
    double Share;
};
constexpr TContainerCost kContainerCosts[] = {
    {"MP4 MOV M4V M4A 3GP 3G2 PSP ", 1536, 0, 12, 12, 5, 0},
    {"MKV WEBM MKA ", 1024, 0, 8, 8, 8, 0},
    {"TS M2TS MTS ", 0, 3950, 120, 10, 10, 0.022},
    {"AVI DIVX ", 16384, 0, 24, 24, 24, 0},
    {"FLV ", 2048, 0, 20, 20, 20, 0},
    {"MPG MPEG VOB DAT ", 8192, 0, 24, 24, 24, 0.03},
    // Sound files: Ogg pages (27 bytes and a lacing byte per packet, some 50 packets a page),
    // ADTS headers of 7 bytes, and the formats that only add a header or tags.
    {"OGG OGA OPUS ", 4096, 0, 2, 2, 2, 0},
    {"AAC ", 1024, 0, 7, 7, 7, 0},
    {"MP3 MP2 AC3 FLAC WAV AU ", 1024, 0, 0, 0, 0, 0},
};
constexpr TContainerCost kOtherContainer = {"", 16384, 0, 32, 32, 32, 0.02};

const TContainerCost& ContainerCostOf(const std::string& formatKey) {
    const std::string key = Upper(formatKey) + " ";
    for (const TContainerCost& cost : kContainerCosts)
        if (std::string(cost.FormatKeys).find(key) != std::string::npos && key.size() > 1)
            return cost;
    return kOtherContainer;
}

// Bits per pixel at the lowest rate, by encoder.
double FloorBitsPerPixel(const std::string& encoder) {
    static const struct {
        const char* Encoder;
        double BitsPerPixel;
    } kFloors[] = {
        {"libx264", 0.005},    {"libx265", 0.005},  {"libvpx-vp9", 0.004}, {"libsvtav1", 0.004},
        {"libaom-av1", 0.004}, {"libvpx", 0.006},   {"mpeg4", 0.02},       {"libxvid", 0.02},
        {"msmpeg4", 0.02},     {"msmpeg4v2", 0.02}, {"wmv1", 0.02},        {"wmv2", 0.02},
        {"h263", 0.02},        {"h263p", 0.02},     {"flv", 0.02},         {"mpeg1video", 0.03},
        {"mpeg2video", 0.03},
    };
    for (const auto& floor : kFloors)
        if (encoder == floor.Encoder) return floor.BitsPerPixel;
    return 0.01;
}

constexpr int64_t kLeastVideoBitrate = 16000;
constexpr std::array<int64_t, 14> kUsualAudioRates = {32000,  40000,  48000,  56000,  64000,
                                                      80000,  96000,  112000, 128000, 160000,
                                                      192000, 224000, 256000, 320000};

}  // namespace

std::optional<int64_t> ParseTargetSize(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::nullopt;
    const char* start = text.c_str() + first;
    if (!std::isdigit(static_cast<unsigned char>(*start)) && *start != '.') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double number = std::strtod(start, &end);
    if (errno != 0 || end == start || !std::isfinite(number) || number <= 0) return std::nullopt;
    std::string unit(end);
    unit.erase(std::remove(unit.begin(), unit.end(), ' '), unit.end());
    unit = Upper(unit);
    for (const TUnit& known : kUnits) {
        if (unit != known.Name) continue;
        const double bytes = std::floor(number * known.Bytes);
        if (bytes < 1 || bytes > 1e18) return std::nullopt;
        return static_cast<int64_t>(bytes);
    }
    return std::nullopt;
}

bool IsBareNumber(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    if (first == std::string::npos) return false;
    const std::string number = text.substr(first, last - first + 1);
    return number.find_first_not_of("0123456789.") == std::string::npos &&
           number.find_first_of("0123456789") != std::string::npos;
}

std::string MegabytesText(int64_t bytes) {
    const int64_t hundredths = (std::max<int64_t>(bytes, 0) + 9999) / 10000;
    std::string decimals = std::to_string(100 + hundredths % 100).substr(1);
    return std::to_string(hundredths / 100) + "." + decimals + " MB";
}

int64_t EncoderFloorBitrate(const std::string& encoder, int width, int height, double frameRate) {
    const double pixels =
        double(std::max(width, 0)) * std::max(height, 0) * std::max(frameRate, 0.0);
    return std::max(kLeastVideoBitrate, int64_t(std::ceil(pixels * FloorBitsPerPixel(encoder))));
}

double ContainerBytes(const TContainerRequest& request) {
    const TContainerCost& cost = ContainerCostOf(request.FormatKey);
    const double seconds = std::max(request.Seconds, 0.0);
    const double pictures = seconds * std::max(request.FrameRate, 0.0);
    const double soundPackets = seconds * std::max(request.SoundPacketsPerSecond, 0.0);
    const int64_t perSound = pictures > 0 ? cost.PerSoundPacket : cost.PerSoundPacketAlone;
    return double(cost.FixedBytes) + seconds * cost.BytesPerSecond + pictures * cost.PerPicture +
           soundPackets * double(perSound) + std::max(request.MediaBytes, 0.0) * cost.Share;
}

int64_t AudioFloorBitrate(int channels) {
    return 16000 * std::clamp(channels, 1, 2);
}

TFitPlan PlanFit(const TFitRequest& request) {
    TFitPlan plan;
    const double seconds = std::max(request.Seconds, 0.001);
    const bool sound = !request.AudioEncoder.empty();
    const double budget = double(request.TargetBytes) * kFitAim;
    const auto containerBytes = [&](double mediaBytes) {
        return ContainerBytes({request.FormatKey, seconds, std::max(request.FrameRate, 1.0),
                               sound ? kSoundPacketsPerSecond : 0, mediaBytes});
    };

    const int64_t audioFloor = sound ? AudioFloorBitrate(request.AudioChannels) : 0;
    if (sound) {
        const int64_t asked = request.AudioBitrate > 0 ? request.AudioBitrate : 128000;
        const double quarter = budget * 8 / seconds / 4;
        int64_t rate = asked;
        if (quarter < asked) {
            // The usual rate at or below the quarter, so that encoders with fixed steps take it.
            rate = audioFloor;
            for (int64_t usual : kUsualAudioRates)
                if (usual <= quarter && usual > rate) rate = usual;
            rate = std::min(rate, asked);
        }
        plan.AudioBitrate = rate;
    }
    const int64_t videoFloor =
        EncoderFloorBitrate(request.VideoEncoder, request.Width, request.Height, request.FrameRate);
    const double leastMedia = double(videoFloor + audioFloor) * seconds / 8;
    plan.LeastTargetBytes = int64_t(std::ceil((leastMedia + containerBytes(leastMedia)) / kFitAim));

    plan.AudioBytes = int64_t(double(plan.AudioBitrate) * seconds / 8);
    // The share of the container grows with the media, which fill the budget: count it on that.
    plan.OverheadBytes = int64_t(std::ceil(containerBytes(budget)));
    const double videoBytes = budget - double(plan.AudioBytes) - double(plan.OverheadBytes);
    const int64_t videoRate = int64_t(videoBytes * 8 / seconds);
    if (request.TargetBytes < plan.LeastTargetBytes || videoRate < videoFloor) return plan;
    plan.VideoBitrate = videoRate;
    return plan;
}

int64_t CorrectedVideoBitrate(int64_t videoBitrate, int64_t resultBytes, int64_t targetBytes,
                              int64_t otherBytes) {
    const double made = std::max(double(resultBytes - otherBytes), 1.0);
    const double wanted = std::max(double(targetBytes) * kFitRetryAim - double(otherBytes), 0.0);
    return int64_t(double(videoBitrate) * wanted / made);
}

bool EncoderHasTwoPasses(const std::string& encoder) {
    static const char* const kTwoPass[] = {
        "libx264", "libvpx-vp9", "libvpx",     "libaom-av1", "mpeg4",
        "msmpeg4", "msmpeg4v2",  "wmv1",       "wmv2",       "h263",
        "h263p",   "flv",        "mpeg1video", "mpeg2video", "libxvid",
    };
    return std::find_if(std::begin(kTwoPass), std::end(kTwoPass),
                        [&](const char* name) { return encoder == name; }) != std::end(kTwoPass);
}
