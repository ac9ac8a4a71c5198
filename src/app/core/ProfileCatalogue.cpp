#include "app/core/ProfileCatalogue.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

using TTexts = std::vector<std::string>;

// A list whose preselected entry is named by its text; a default that is not in the list
// leaves nothing selected.
TChoiceList Choices(TTexts items, const std::string& selected) {
    auto at = std::find(items.begin(), items.end(), selected);
    const int index = at == items.end() ? -1 : static_cast<int>(at - items.begin());
    return TChoiceList{std::move(items), index};
}

// A list of one entry, preselected.
TChoiceList Single(const std::string& item) {
    return TChoiceList{{item}, 0};
}

TTexts Without(TTexts items, const TTexts& removed) {
    std::erase_if(items, [&](const std::string& item) {
        return std::find(removed.begin(), removed.end(), item) != removed.end();
    });
    return items;
}

TTexts Joined(TTexts items, const TTexts& more) {
    items.insert(items.end(), more.begin(), more.end());
    return items;
}

// The value lists that several profiles share; every text exactly as shown to the user.
const TTexts kStandardSizes = {
    "Original Video Size", "128 x 96 (SQCIF)", "160 x 120 (QVGA)", "176 x 120", "176 x 144 (QCIF)",
    "192 x 144",           "208 x 176",        "220 x 176",        "240 x 180", "320 x 200",
    "320 x 240 (VGA)",     "352 x 240",        "352 x 288 (CIF)",  "480 x 272", "480 x 360",
    "480 x 480",           "480 x 576",        "624 x 352",        "640 x 352", "640 x 480",
    "704 x 576 (4CIF)",    "720 x 480",        "720 x 576"};
const TTexts kStandardVideoBitrates = {
    "192 Kbps",  "200 Kbps",  "216 Kbps",  "384 Kbps",  "512 Kbps",  "640 Kbps", "768 Kbps",
    "1000 Kbps", "1200 Kbps", "1500 Kbps", "1600 Kbps", "2000 Kbps", "2500 Kbps"};
const TTexts kAviVideoBitrates = Without(kStandardVideoBitrates, {"1600 Kbps", "2000 Kbps"});
const TTexts kStandardFramerates = {"Auto",     "14.985 fps", "15.0 fps", "23.975 fps",
                                    "25.0 fps", "29.97 fps",  "30.0 fps"};
const TTexts kStandardAudioBitrates = {"32 Kbps",  "40 Kbps",  "48 Kbps",  "64 Kbps",  "80 Kbps",
                                       "96 Kbps",  "112 Kbps", "128 Kbps", "160 Kbps", "192 Kbps",
                                       "224 Kbps", "256 Kbps", "320 Kbps"};
const TTexts kStandardSampleRates = {"8000 Hz",  "16000 Hz", "22050 Hz", "32000 Hz",
                                     "44100 Hz", "48000 Hz", "54000 Hz", "96000 Hz"};
const TTexts kWideSampleRates = {"8000 Hz",  "16000 Hz", "22050 Hz", "32000 Hz",
                                 "44100 Hz", "48000 Hz", "54000 Hz", "96000 Hz"};
const TTexts kMpegSizes = {"128 x 96 (SQCIF)", "176 x 144 (QCIF)", "352 x 240", "352 x 288 (CIF)",
                           "480 x 272",        "480 x 480",        "640 x 480", "704 x 576 (4CIF)"};
const TTexts kMpegFramerates = {"23.976 fps [NTSC]", "24 fps", "25 fps [PAL]", "29.97 fps [NTSC]",
                                "30.0 fps",          "50 fps", "59.94 fps"};
const TTexts kPortableVideoBitrates = {"512 Kbps", "800 Kbps", "1200 Kbps", "1500 Kbps",
                                       "2500 Kbps"};
const TTexts kMobileSizes = {"128 x 96 (SQCIF)", "160 x 120 (QVGA)", "176 x 144 (QCIF)",
                             "208 x 176",        "220 x 176",        "320 x 240 (VGA)",
                             "352 x 288 (CIF)"};
const TTexts kAmrBitrates = {"4750 bps", "5150 bps", "5900 bps",  "6700 bps",
                             "7400 bps", "7950 bps", "10200 bps", "12200 bps"};
const TTexts kDeviceSizes = {"Auto",      "160 x 120", "320 x 240",
                             "480 x 272", "720 x 480", "640 x 480"};

constexpr auto kNoReset = TListReset::lrNone;
constexpr auto kResets = TListReset::lrStereoAndOriginal;
constexpr auto kGeneric = TParameterReader::prGeneric;
constexpr auto kMp4Aac = TParameterReader::prMp4Aac;

TOutputProfile Mobile(const std::string& name, const std::string& key) {
    return {
        name,
        key,
        Choices({"MPEG4", "H263", "H264"}, "MPEG4"),
        Choices(kMobileSizes, "176 x 144 (QCIF)"),
        Choices({"48 Kbps", "64 Kbps", "96 Kbps", "128 Kbps", "256 Kbps", "512 Kbps"}, "128 Kbps"),
        Choices({"Auto", "11 fps", "14.985 fps", "15 fps"}, "Auto"),
        Choices({"amr_nb", "mpeg4aac"}, "amr_nb"),
        Choices(kAmrBitrates, "7400 bps"),
        Choices({"8000 Hz", "16000 Hz"}, "8000 Hz"),
        TListReset::lrMonoOnly,
        TParameterReader::prMobileAmr};
}

TOutputProfile Avi(const std::string& name, const TTexts& videoCodecs, const TTexts& audioCodecs) {
    return {name,
            "AVI",
            Choices(videoCodecs, videoCodecs.front()),
            Choices(kStandardSizes, "Original Video Size"),
            Choices(kAviVideoBitrates, "1200 Kbps"),
            Choices(kStandardFramerates, "Auto"),
            Choices(audioCodecs, audioCodecs.front()),
            Choices(kStandardAudioBitrates, "128 Kbps"),
            Choices(kStandardSampleRates, "48000 Hz"),
            kResets,
            kGeneric};
}

TOutputProfile Flash(const std::string& name, const std::string& key) {
    return {name,
            key,
            Single("FLV"),
            Choices(kStandardSizes, "Original Video Size"),
            Choices(kStandardVideoBitrates, "200 Kbps"),
            Choices(kStandardFramerates, "15.0 fps"),
            Single("mp3"),
            Choices(kStandardAudioBitrates, "64 Kbps"),
            Choices({"11025 Hz", "22050 Hz", "44100 Hz"}, "44100 Hz"),
            kResets,
            kGeneric};
}

TOutputProfile Mpeg4(const std::string& name, const std::string& key, const TTexts& videoCodecs) {
    return {name,
            key,
            Choices(videoCodecs, "MPEG4"),
            Choices(kStandardSizes, "Original Video Size"),
            Choices(kStandardVideoBitrates, "1200 Kbps"),
            Choices(kStandardFramerates, "Auto"),
            Single("mpeg4aac"),
            Choices(kStandardAudioBitrates, "128 Kbps"),
            Choices(kStandardSampleRates, "44100 Hz"),
            kResets,
            kGeneric};
}

TOutputProfile MpegMovie(const std::string& name, const std::string& videoCodec,
                         const TTexts& audioCodecs, const std::string& videoBitrate) {
    return {name,
            "MPG",
            Single(videoCodec),
            Choices(kStandardSizes, "320 x 240 (VGA)"),
            Choices(kStandardVideoBitrates, videoBitrate),
            Choices(kStandardFramerates, "25.0 fps"),
            Choices(audioCodecs, "mp2"),
            Choices(kStandardAudioBitrates, "192 Kbps"),
            Choices(kStandardSampleRates, "44100 Hz"),
            kResets,
            kGeneric};
}

TOutputProfile VideoCd(const std::string& name, const std::string& videoCodec,
                       const std::string& size, const std::string& videoBitrate) {
    return {name,
            "MPG",
            Single(videoCodec),
            Choices(kMpegSizes, size),
            Single(videoBitrate),
            Choices(kMpegFramerates, "29.97 fps [NTSC]"),
            Single("mp2"),
            Choices(kStandardAudioBitrates, "224 Kbps"),
            Single("44100 Hz"),
            kNoReset,
            kGeneric};
}

TOutputProfile Audio(const std::string& name, const std::string& key, const std::string& codec,
                     const std::string& bitrate, const TTexts& sampleRates,
                     const std::string& sampleRate) {
    return {name,
            key,
            {},
            {},
            {},
            {},
            Single(codec),
            Choices(kStandardAudioBitrates, bitrate),
            Choices(sampleRates, sampleRate),
            kResets,
            kGeneric};
}

// The portable players: "mpeg4aac" audio, standard frame rates ("Auto") and sample rates
// ("44100 Hz"), one frame size.
TOutputProfile Portable(const std::string& name, const TTexts& videoCodecs, const std::string& size,
                        const std::string& videoBitrate, const std::string& audioBitrate,
                        TListReset reset, TParameterReader reader) {
    return {name,
            "MP4",
            Choices(videoCodecs, videoCodecs.front()),
            Single(size),
            Choices(kPortableVideoBitrates, videoBitrate),
            Choices(kStandardFramerates, "Auto"),
            Single("mpeg4aac"),
            Choices(kStandardAudioBitrates, audioBitrate),
            Choices(kStandardSampleRates, "44100 Hz"),
            reset,
            reader};
}

TOutputProfile AppleTvH264(const std::string& name, const std::string& size,
                           const std::string& videoBitrate, const std::string& framerate) {
    return {name,
            "MP4",
            Single("H264"),
            Single(size),
            Choices({"512 Kbps", "800 Kbps", "1200 Kbps", "1500 Kbps", "2000 Kbps", "2500 Kbps",
                     "4000 Kbps", "7000 Kbps"},
                    videoBitrate),
            Choices(kStandardFramerates, framerate),
            Single("mpeg4aac"),
            Choices(kStandardAudioBitrates, "64 Kbps"),
            Choices(kStandardSampleRates, "48000 Hz"),
            kResets,
            kMp4Aac};
}

const TTexts kZuneSizes = {"320 x 240 ", "640 x 480"};
const TTexts kZuneVideoBitrates = {"256 Kbps",  "512 Kbps",  "768 Kbps",
                                   "1200 Kbps", "1500 Kbps", "2000 Kbps"};

TOutputProfile Ps3(const std::string& name, const TChoiceList& sizes,
                   const std::string& videoBitrate) {
    return {
        name,
        "MP4",
        Single("H264"),
        sizes,
        Choices({"1200 Kbps", "1500 Kbps", "2000 Kbps", "2500 Kbps", "3000 Kbps"}, videoBitrate),
        Single("29.97 fps"),
        Single("mpeg4aac"),
        Choices(kStandardAudioBitrates, "96 Kbps"),
        Choices(kWideSampleRates, "44100 Hz"),
        kResets,
        kGeneric};
}

TOutputProfile Player(const std::string& name, const std::string& size,
                      const TChoiceList& videoBitrates) {
    return {name,
            "AVI",
            Single("MPEG4"),
            Choices(kDeviceSizes, size),
            videoBitrates,
            Choices(kStandardFramerates, "Auto"),
            Choices({"mp3", "mp2"}, "mp3"),
            Choices(kStandardAudioBitrates, "128 Kbps"),
            Choices(kStandardSampleRates, "48000 Hz"),
            kNoReset,
            kGeneric};
}

const TTexts kBlackBerrySizes = {"176 x 144", "240 x 180", "320 x 240"};
const TTexts kBlackBerryVideoBitrates = {"80 Kbps",  "120 Kbps", "200 Kbps",
                                         "256 Kbps", "300 Kbps", "512 Kbps"};
const TTexts kBlackBerryFramerates = {"11 fps", "15 fps", "20 fps", "24 fps", "25 fps"};
const TTexts kBlackBerryAudioBitrates = {"40 Kbps", "48 Kbps", "64 Kbps",
                                         "80 Kbps", "96 Kbps", "112 Kbps"};

TOutputProfile BlackBerry(const std::string& name, const std::string& key,
                          const TChoiceList& videoCodecs, const TChoiceList& sizes,
                          const TChoiceList& audioCodecs) {
    return {name,
            key,
            videoCodecs,
            sizes,
            Choices(kBlackBerryVideoBitrates, "300 Kbps"),
            Choices(kBlackBerryFramerates, "24 fps"),
            audioCodecs,
            Choices(kBlackBerryAudioBitrates, "80 Kbps"),
            Choices(kStandardSampleRates, "44100 Hz"),
            kNoReset,
            kGeneric};
}

// Today's profiles: sizes by picture height (the width follows the picture's shape), the rate
// control by quality steps, the encoders' speed chosen in the reader.
const TTexts kHeightSizes = {"Original", "2160p", "1440p", "1080p", "720p", "480p", "360p"};
const TTexts kTodaysFramerates = {"Auto",   "23.976 fps", "24 fps",    "25 fps", "29.97 fps",
                                  "30 fps", "50 fps",     "59.94 fps", "60 fps"};
const TTexts kTodaysSampleRates = {"44100 Hz", "48000 Hz"};
const TTexts kLosslessSampleRates = {"44100 Hz", "48000 Hz", "88200 Hz", "96000 Hz"};
constexpr auto kToday = TParameterReader::prToday;

TChoiceList Qualities() {
    return Choices(QualityEntries(), "Standard");
}

// A video profile of today; an audio list left empty means the quality sets the audio's rate
// too (Opus).
TOutputProfile Today(const std::string& name, const std::string& key,
                     const TChoiceList& videoCodecs, const TChoiceList& sizes,
                     const TChoiceList& audioCodecs, const TTexts& audioBitrates) {
    // Opus codes 48 kHz only.
    const TTexts rates = audioBitrates.empty() ? TTexts{"48000 Hz"} : kTodaysSampleRates;
    return {name,
            key,
            videoCodecs,
            sizes,
            {},
            Choices(kTodaysFramerates, "Auto"),
            audioCodecs,
            Choices(audioBitrates, "160 Kbps"),
            Choices(rates, "48000 Hz"),
            kResets,
            kToday,
            Qualities()};
}

TOutputProfile TodaysAudio(const std::string& name, const std::string& key,
                           const std::string& codec, const TTexts& sampleRates,
                           const std::string& sampleRate, bool quality) {
    return {name,
            key,
            {},
            {},
            {},
            {},
            Single(codec),
            {},
            Choices(sampleRates, sampleRate),
            kResets,
            kToday,
            quality ? Qualities() : TChoiceList{}};
}

// Animated pictures for chat programs and web pages: a width instead of a height (what chat
// windows limit), a few frames a second, no sound.
const TTexts kAnimatedWidths = {"Original",    "640 px wide", "480 px wide",
                                "360 px wide", "320 px wide", "240 px wide"};
const TTexts kAnimatedFramerates = {"Original", "8 fps",  "10 fps", "12 fps",
                                    "15 fps",   "20 fps", "25 fps"};

TOutputProfile Animated(const std::string& name, const std::string& key, const std::string& codec,
                        const std::string& rate, const TChoiceList& qualities) {
    return {name,
            key,
            Single(codec),
            Choices(kAnimatedWidths, "480 px wide"),
            {},
            Choices(kAnimatedFramerates, rate),
            {},
            {},
            {},
            kResets,
            kToday,
            qualities};
}

std::vector<TOutputProfile> TodaysProfiles() {
    const TChoiceList sizes = Choices(kHeightSizes, "Original");
    const TTexts aacRates = {"96 Kbps", "128 Kbps", "160 Kbps", "192 Kbps", "256 Kbps"};
    const TChoiceList phoneSizes = Choices({"1080p", "720p", "480p"}, "1080p");
    return {
        Today("MP4 - H.264 + AAC", "MP4", Single("H264"), sizes, Single("aac"), aacRates),
        Today("MP4 - H.265 (HEVC) + AAC", "MP4", Single("H265"), sizes, Single("aac"), aacRates),
        Today("MKV - H.264 + every audio and subtitle track", "MKV",
              Choices({"H264", "H265", "VP9", "AV1"}, "H264"), sizes,
              Choices({"aac", "opus", "flac"}, "aac"), aacRates),
        Today("WebM - VP9 + Opus", "WEBM", Single("VP9"), sizes, Single("opus"), {}),
        Today("WebM - AV1 + Opus", "WEBM", Single("AV1"), sizes, Single("opus"), {}),
        Today("MP4 - Phone (1080p H.264)", "MP4", Single("H264"), phoneSizes, Single("aac"),
              aacRates),
        Today("MP4 - Web upload (1080p H.264, fast start)", "MP4", Single("H264"), phoneSizes,
              Single("aac"), aacRates),
        TodaysAudio("Opus", "OPUS", "opus", {"48000 Hz"}, "48000 Hz", true),
        TodaysAudio("FLAC (lossless)", "FLAC", "flac", kLosslessSampleRates, "48000 Hz", false),
        TodaysAudio("M4A - ALAC (lossless)", "M4A", "alac", kLosslessSampleRates, "48000 Hz",
                    false),
        TodaysAudio("MP3 (VBR quality)", "MP3", "mp3", {"44100 Hz", "48000 Hz"}, "44100 Hz", true),
        Animated("GIF - Animated (palette)", "GIF", "GIF", "12 fps", {}),
        Animated("WebP - Animated", "WEBP", "WebP", "15 fps", Qualities()),
    };
}

std::vector<TOutputProfile> MakeProfiles() {
    const TTexts aviCodecs = {"pcm_s16le", "mp3", "mp2", "ac3"};
    const TTexts ipodCodecs = {"MPEG4", "H264"};
    const auto player = [](const std::string& name, const std::string& size) {
        return Player(name, size, Choices(kStandardVideoBitrates, "1200 Kbps"));
    };
    return {
        Mobile("3GP - Mobile Video Format (*.3gp)", "3GP"),
        Mobile("3G2 - Mobile Video Format (*.3g2)", "3G2"),
        {"ASF - Advance Streaming Format (*.asf)", "ASF", Single("MSMPEG4"),
         Choices(kStandardSizes, "Original Video Size"),
         Choices({"1200 Kbps", "1500 Kbps", "2000 Kbps", "2500 Kbps", "3000 Kbps"}, "1200 Kbps"),
         Choices(kStandardFramerates, "Auto"), Single("mp3"),
         Choices(kStandardAudioBitrates, "128 Kbps"), Choices(kStandardSampleRates, "48000 Hz"),
         kResets, kGeneric},
        Avi("AVI - Audio Video Interleave (*.avi)", {"MPEG4", "H264"}, aviCodecs),
        Avi("AVI - DivX Video (*.avi)", {"MPEG4"}, {"mp3"}),
        Avi("AVI - Uncompress (*.avi)", {"RAWVIDEO"}, aviCodecs),
        Avi("AVI - XviD Video (*.avi)", {"XVID"}, {"mp3"}),
        // DVD frames are 720 wide; NTSC's size is preselected.
        {"DVD - VOB (*.vob)", "VOB", Single("MPEG2VIDEO"),
         Choices(Joined(kMpegSizes, {"720 x 480", "720 x 576"}), "720 x 480"), Single("6000 Kbps"),
         Choices(kMpegFramerates, "29.97 fps [NTSC]"), Choices({"ac3", "mp2"}, "ac3"),
         Choices(kStandardAudioBitrates, "224 Kbps"),
         Choices({"44100 Hz", "48000 Hz", "54000 Hz", "96000 Hz"}, "48000 Hz"), kNoReset, kGeneric},
        Flash("FLV - Flash Video (*.flv)", "FLV"),
        Mpeg4("MOV - QuickTime Video (*.mov)", "MOV", {"MPEG4"}),
        Mpeg4("MP4 - MPEG4 Video (*.mp4)", "MP4", {"MPEG4", "H264", "XVid"}),
        MpegMovie("MPEG-1 Movie (*.mpg)", "MPEG1VIDEO", {"mp2"}, "1600 Kbps"),
        MpegMovie("MPEG-2 Movie (*.mpg)", "MPEG2VIDEO", {"mp2", "ac3"}, "2000 Kbps"),
        {"RM - Real Video (*.rm)", "RM", Choices({"RV10", "RV20"}, "RV10"),
         Choices(kStandardSizes, "320 x 240 (VGA)"),
         Choices({"384  Kbps", "400  Kbps", "600  Kbps", "1200 Kbps", "1800 Kbps", "2200 Kbps",
                  "2600 Kbps", "3000 Kbps"},
                 "384  Kbps"),
         Choices(kStandardFramerates, "Auto"), Single("ac3"),
         Choices(kStandardAudioBitrates, "128 Kbps"), Choices(kWideSampleRates, "48000 Hz"),
         kResets, kGeneric},
        Flash("SWF - Flash Swf (*.swf)", "SWF"),
        VideoCd("Super Video CD (*.mpg)", "MPEG2VIDEO", "480 x 480", "2040 Kbps"),
        VideoCd("Video CD (*.mpg)", "MPEG1VIDEO", "352 x 240", "1150 Kbps"),
        {"WMV - Windows Media Video (*.wmv)", "WMV", Single("WMV2"),
         Choices(kStandardSizes, "320 x 240 (VGA)"), Choices(kStandardVideoBitrates, "1200 Kbps"),
         Choices(kStandardFramerates, "Auto"), Single("wmav2"),
         Choices(kStandardAudioBitrates, "128 Kbps"), Choices(kStandardSampleRates, "48000 Hz"),
         kResets, kGeneric},

        Audio("AAC - Advance Audio Coding (*.aac)", "AAC", "aac", "128 Kbps", kStandardSampleRates,
              "48000 Hz"),
        Audio("AU - SUN Audio (*.au)", "AU", "pcm_s16be", "128 Kbps", kStandardSampleRates,
              "48000 Hz"),
        Audio("M4A - Mpeg4 Audio File (*.m4a)", "M4A", "mpeg4aac", "128 Kbps", kStandardSampleRates,
              "48000 Hz"),
        Audio("MP2 - Mpeg Layer2 Audio (*.mp2)", "MP2", "mp2", "224 Kbps", kStandardSampleRates,
              "48000 Hz"),
        Audio("MP3 - Mpeg Layer3 Audio (*.mp3)", "MP3", "mp3", "192 Kbps", kStandardSampleRates,
              "48000 Hz"),
        Audio("OGG - Ogg Vorbis Audio (*.ogg)", "OGG", "vorbis", "160 Kbps", kStandardSampleRates,
              "48000 Hz"),
        Audio("RA - Real Audio (*.ra)", "RA", "ac3", "128 Kbps", kWideSampleRates, "48000 Hz"),
        Audio("WAV - Waveform Audio (*.wav)", "WAV", "pcm_s16le", "128 Kbps", kWideSampleRates,
              "44100 Hz"),
        Audio("WMA - Windows Media Audio (*.wma)", "WMA", "wmav2", "128 Kbps", kWideSampleRates,
              "48000 Hz"),

        Portable("iPod (*.mp4)", ipodCodecs, "320 x 240", "512 Kbps", "64 Kbps", kNoReset, kMp4Aac),
        Portable("iPod Extra (640 x 480) (*.mp4)", ipodCodecs, "640 x 480", "1500 Kbps", "64 Kbps",
                 kNoReset, kMp4Aac),
        Portable("iPod Video For TV (*.mp4)", ipodCodecs, "640 x 480", "1500 Kbps", "64 Kbps",
                 kNoReset, kMp4Aac),
        Portable("Apple TV (*.mp4)", {"MPEG4"}, "640 x 480", "1500 Kbps", "128 Kbps", kResets,
                 kMp4Aac),
        Portable("Apple TV (Normal Quality) (*.mp4)", {"MPEG4"}, "640 x 480", "1200 Kbps",
                 "96 Kbps", kResets, kMp4Aac),
        Portable("Apple TV (High Quality) (*.mp4)", {"MPEG4"}, "640 x 480", "1500 Kbps", "128 Kbps",
                 kResets, kMp4Aac),
        AppleTvH264("Apple TV H264 (320 x 240) (*.mp4)", "320 x 240", "1200 Kbps", "29.97 fps"),
        AppleTvH264("Apple TV H264 (640 x 480) (*.mp4)", "640 x 480", "2000 Kbps", "29.97 fps"),
        AppleTvH264("Apple TV H264 (1280 x 720) (*.mp4)", "1280 x 720", "2500 Kbps", "23.975 fps"),
        Portable("iPod Touch (*.mp4)", {"MPEG4"}, "480 x 320", "1200 Kbps", "80 Kbps", kNoReset,
                 kMp4Aac),
        Portable("iPod Touch Extra (640 x 480) (*.mp4)", {"MPEG4"}, "640 x 480", "1500 Kbps",
                 "80 Kbps", kNoReset, kMp4Aac),
        Portable("iPod Touch Wide Screen (*.mp4)", {"MPEG4"}, "720 x 406", "1500 Kbps", "128 Kbps",
                 kResets, kMp4Aac),
        Portable("iPhone (*.mp4)", {"MPEG4"}, "480 x 320", "1200 Kbps", "80 Kbps", kResets,
                 kGeneric),
        Portable("iPhone Extra (640 x 480) (*.mp4)", {"MPEG4"}, "640 x 480", "1500 Kbps",
                 "128 Kbps", kResets, kGeneric),
        Portable("iPhone Wide Screen (*.mp4)", {"MPEG4"}, "720 x 480", "1500 Kbps", "128 Kbps",
                 kResets, kGeneric),

        {"Zune Mpeg4 Video (*.mp4)", "MP4", Choices({"MPEG4", "H264"}, "MPEG4"),
         Choices(kZuneSizes, "320 x 240 "), Choices(kZuneVideoBitrates, "1500 Kbps"),
         Single("29.97 fps"), Single("mpeg4aac"), Choices(kStandardAudioBitrates, "128 Kbps"),
         Choices(kWideSampleRates, "44100 Hz"), kResets, kGeneric},
        {"Zune WMV Windows Media Video (*.wmv)", "WMV", Single("WMV2"),
         Choices(kZuneSizes, "320 x 240 "), Choices(kZuneVideoBitrates, "1200 Kbps"),
         Choices(kStandardFramerates, "Auto"), Single("wmav2"),
         Choices(kStandardAudioBitrates, "128 Kbps"), Choices(kWideSampleRates, "48000 Hz"),
         kResets, kGeneric},

        {"PSP Video (*.mp4)", "MP4", Choices({"MPEG4", "H264", "XVID"}, "MPEG4"),
         Choices({"160 x 112", "320 x 240", "368 x 208", "480 x 272"}, "368 x 208"),
         Single("768 Kbps"), Choices({"14.985 fps", "29.97 fps"}, "29.97 fps"), Single("mpeg4aac"),
         Choices({"32 Kbps", "48 Kbps", "64 Kbps", "96 Kbps", "128 Kbps", "160 Kbps"}, "64 Kbps"),
         Single("24000 Hz"), kResets, kGeneric},
        Ps3("PS3 Video (*.mp4)", Choices({"640 x 480", "720 x 480", "720 x 576"}, "720 x 480"),
            "1200 Kbps"),
        Ps3("PS3 Video(480P) (*.mp4)",
            Choices({"640 x 480", "720 x 480", "720 x 576"}, "720 x 480"), "1200 Kbps"),
        Ps3("PS3 Video(720P) (*.mp4)", Single("1280 x 720"), "2000 Kbps"),
        Ps3("PS3 Video(1080P) (*.mp4)", Single("1920 x 1072"), "2000 Kbps"),

        player("Archos AV500/GMini402 (*.avi)", "480 x 272"),
        Player("Archos AV700 (*.avi)", "720 x 480",
               Choices({"1000 Kbps", "1200 Kbps", "1500 Kbps", "2000 Kbps", "2500 Kbps"},
                       "2000 Kbps")),
        BlackBerry("BlackBerry MPEG-4 Video (*.mp4)", "MP4", Single("MPEG4"),
                   Choices(kBlackBerrySizes, "320 x 240"), Single("mpeg4aac")),
        BlackBerry("BlackBerry AVI Video (*.avi)", "AVI", Single("H263"), Single("176 x 144"),
                   Choices({"mp3", "pcm_s16le"}, "mp3")),
        {"BlackBerry 3GP Video (*.3gp)", "3GP", Choices({"MPEG4", "H263"}, "MPEG4"),
         Choices(kBlackBerrySizes, "176 x 144"),
         Choices({"48 Kbps", "64 Kbps", "96 Kbps", "120 Kbps", "128 Kbps", "256 Kbps", "512 Kbps"},
                 "120 Kbps"),
         Choices(Joined({"Auto"}, kBlackBerryFramerates), "15 fps"),
         Choices({"amr_nb", "mpeg4aac"}, "amr_nb"), Choices(kAmrBitrates, "4750 bps"),
         Choices({"8000 Hz", "16000 Hz"}, "8000 Hz"), kNoReset, kGeneric},
        player("Creative Zen Vision (*.avi)", "640 x 480"),
        player("iRiver PMP100 (*.avi)", "640 x 480"),
    };
}

std::vector<TOutputProfile> AllProfiles() {
    std::vector<TOutputProfile> profiles = MakeProfiles();
    for (TOutputProfile& today : TodaysProfiles()) profiles.push_back(std::move(today));
    return profiles;
}

const std::vector<TOutputProfile>& Profiles() {
    static const std::vector<TOutputProfile> profiles = AllProfiles();
    return profiles;
}

// The display order: profile names, with an empty name standing for a separator line.
const std::vector<const char*> kLineOrder = {
    "3GP - Mobile Video Format (*.3gp)",
    "3G2 - Mobile Video Format (*.3g2)",
    "ASF - Advance Streaming Format (*.asf)",
    "AVI - Audio Video Interleave (*.avi)",
    "AVI - DivX Video (*.avi)",
    "AVI - Uncompress (*.avi)",
    "AVI - XviD Video (*.avi)",
    "DVD - VOB (*.vob)",
    "FLV - Flash Video (*.flv)",
    "MOV - QuickTime Video (*.mov)",
    "MP4 - MPEG4 Video (*.mp4)",
    "MPEG-1 Movie (*.mpg)",
    "MPEG-2 Movie (*.mpg)",
    "RM - Real Video (*.rm)",
    "SWF - Flash Swf (*.swf)",
    "Super Video CD (*.mpg)",
    "Video CD (*.mpg)",
    "WMV - Windows Media Video (*.wmv)",
    "",
    "AAC - Advance Audio Coding (*.aac)",
    "AU - SUN Audio (*.au)",
    "M4A - Mpeg4 Audio File (*.m4a)",
    "MP2 - Mpeg Layer2 Audio (*.mp2)",
    "MP3 - Mpeg Layer3 Audio (*.mp3)",
    "OGG - Ogg Vorbis Audio (*.ogg)",
    "RA - Real Audio (*.ra)",
    "WAV - Waveform Audio (*.wav)",
    "WMA - Windows Media Audio (*.wma)",
    "",
    "iPod (*.mp4)",
    "iPod Extra (640 x 480) (*.mp4)",
    "iPod Video For TV (*.mp4)",
    "",
    "Apple TV (*.mp4)",
    "Apple TV (Normal Quality) (*.mp4)",
    "Apple TV (High Quality) (*.mp4)",
    "Apple TV H264 (320 x 240) (*.mp4)",
    "Apple TV H264 (640 x 480) (*.mp4)",
    "Apple TV H264 (1280 x 720) (*.mp4)",
    "",
    "iPod Touch (*.mp4)",
    "iPod Touch Extra (640 x 480) (*.mp4)",
    "iPod Touch Wide Screen (*.mp4)",
    "",
    "iPhone (*.mp4)",
    "iPhone Extra (640 x 480) (*.mp4)",
    "iPhone Wide Screen (*.mp4)",
    "",
    "Zune Mpeg4 Video (*.mp4)",
    "Zune WMV Windows Media Video (*.wmv)",
    "",
    "PSP Video (*.mp4)",
    "PS3 Video (*.mp4)",
    "PS3 Video(480P) (*.mp4)",
    "PS3 Video(720P) (*.mp4)",
    "PS3 Video(1080P) (*.mp4)",
    "",
    "Archos AV500/GMini402 (*.avi)",
    "Archos AV700 (*.avi)",
    "BlackBerry MPEG-4 Video (*.mp4)",
    "BlackBerry AVI Video (*.avi)",
    "BlackBerry 3GP Video (*.3gp)",
    "Creative Zen Vision (*.avi)",
    "iRiver PMP100 (*.avi)",
    "",
    "MP4 - H.264 + AAC",
    "MP4 - H.265 (HEVC) + AAC",
    "MKV - H.264 + every audio and subtitle track",
    "WebM - VP9 + Opus",
    "WebM - AV1 + Opus",
    "MP4 - Phone (1080p H.264)",
    "MP4 - Web upload (1080p H.264, fast start)",
    "Opus",
    "FLAC (lossless)",
    "M4A - ALAC (lossless)",
    "MP3 (VBR quality)",
    "GIF - Animated (palette)",
    "WebP - Animated",
};

std::vector<TCatalogueLine> MakeLines() {
    std::vector<TCatalogueLine> lines;
    for (const char* name : kLineOrder) {
        if (*name == '\0') {
            lines.push_back({kSeparatorLine, nullptr});
        } else {
            lines.push_back({name, FindProfile(name)});
        }
    }
    return lines;
}

}  // namespace

const char* const kSeparatorLine = "              -----------------------------------------";

std::string TChoiceList::SelectedText() const {
    if (Selected < 0 || Selected >= static_cast<int>(Items.size())) return {};
    return Items[Selected];
}

const std::vector<std::string>& AudioChannelEntries() {
    static const TTexts entries = {kChannelsStereo, kChannelsMono};
    return entries;
}

const std::vector<std::string>& AspectRatioEntries() {
    static const TTexts entries = {"Original", "4:3 (Standard", "16:9 (Wide Screen)"};
    return entries;
}

const std::vector<std::string>& QualityEntries() {
    static const TTexts entries = {"Very high", "High", "Standard", "Small"};
    return entries;
}

const std::vector<std::string>& LetterBoxEntries() {
    static const TTexts entries = {"None", "LetterBox"};
    return entries;
}

bool IsSeparatorText(const std::string& text) {
    return text.find("              ----") != std::string::npos;
}

const std::vector<TCatalogueLine>& OutputFormatLines() {
    static const std::vector<TCatalogueLine> lines = MakeLines();
    return lines;
}

bool IsTodaysLine(int line) {
    return line >= kFirstTodaysLine && line < static_cast<int>(OutputFormatLines().size());
}

namespace {

// Today's groups by the names of their profiles, the default profile of the window first in
// its group.
struct TNamedGroup {
    const char* Heading;
    std::vector<const char*> Names;
};

const std::vector<TNamedGroup> kTodaysGroups = {
    {"Phone", {"MP4 - Phone (1080p H.264)"}},
    {"Web upload", {"MP4 - Web upload (1080p H.264, fast start)", "WebM - VP9 + Opus"}},
    {"Keep quality", {"MP4 - H.264 + AAC", "MKV - H.264 + every audio and subtitle track"}},
    {"Small file", {"MP4 - H.265 (HEVC) + AAC", "WebM - AV1 + Opus"}},
    {"Audio", {"Opus", "MP3 (VBR quality)"}},
    {"Lossless", {"FLAC (lossless)", "M4A - ALAC (lossless)"}},
    {"Chat and web clips", {"GIF - Animated (palette)", "WebP - Animated"}},
};

// The catalogue's groups follow its separators, in order.
const std::vector<const char*> kCatalogueHeadings = {
    "Video files (older formats)",
    "Audio files (older formats)",
    "iPod",
    "Apple TV",
    "iPod Touch",
    "iPhone",
    "Zune",
    "PlayStation (PSP, PS3)",
    "Other players (Archos, BlackBerry, Creative, iRiver)",
};

int LineNamed(const std::string& name) {
    const auto& lines = OutputFormatLines();
    for (int line = 0; line < static_cast<int>(lines.size()); ++line) {
        if (lines[line].Profile && lines[line].Text == name) return line;
    }
    return -1;
}

std::vector<TProfileGroup> MakeGroups() {
    std::vector<TProfileGroup> groups;
    for (const TNamedGroup& named : kTodaysGroups) {
        TProfileGroup group{named.Heading, {}, true};
        for (const char* name : named.Names) group.Lines.push_back(LineNamed(name));
        groups.push_back(std::move(group));
    }
    const auto& lines = OutputFormatLines();
    std::size_t heading = 0;
    TProfileGroup group{kCatalogueHeadings[heading], {}, false};
    for (int line = 0; line < kCatalogueLineCount; ++line) {
        if (lines[line].Profile) {
            group.Lines.push_back(line);
        } else if (heading + 1 < kCatalogueHeadings.size()) {
            groups.push_back(std::move(group));
            group = {kCatalogueHeadings[++heading], {}, false};
        }
    }
    groups.push_back(std::move(group));
    return groups;
}

}  // namespace

const std::vector<TProfileGroup>& ProfileGroups() {
    static const std::vector<TProfileGroup> groups = MakeGroups();
    return groups;
}

const TOutputProfile* FindProfile(const std::string& displayName) {
    for (const TOutputProfile& profile : Profiles()) {
        if (profile.DisplayName == displayName) return &profile;
    }
    return nullptr;
}

bool IsAudioFormatKey(const std::string& formatKey) {
    const auto sameKey = [&](const TOutputProfile& profile) {
        return std::equal(
            profile.FormatKey.begin(), profile.FormatKey.end(), formatKey.begin(), formatKey.end(),
            [](unsigned char a, unsigned char b) { return std::toupper(a) == std::toupper(b); });
    };
    const auto& profiles = Profiles();
    const auto found = std::find_if(profiles.begin(), profiles.end(), sameKey);
    return found != profiles.end() && found->VideoCodecs.Items.empty();
}

void TParameterLists::ApplyProfile(const TOutputProfile& profile) {
    VideoCodec = profile.VideoCodecs;
    VideoSize = profile.VideoSizes;
    VideoBitrate = profile.VideoBitrates;
    VideoFramerate = profile.VideoFramerates;
    AudioCodec = profile.AudioCodecs;
    AudioBitrate = profile.AudioBitrates;
    SamplingRate = profile.SampleRates;
    Quality = profile.Qualities;
    switch (profile.Reset) {
        case TListReset::lrNone:
            break;
        case TListReset::lrStereoAndOriginal:
            AudioChannels.Selected = 0;
            AspectRatio.Selected = 0;
            break;
        case TListReset::lrMonoOnly:
            AudioChannels.Selected = 1;
            break;
    }
}

const TOutputProfile* TProfileSelection::Choose(int line) {
    const auto& lines = OutputFormatLines();
    if (line < 0 || line >= static_cast<int>(lines.size())) return nullptr;
    if (IsSeparatorText(lines[line].Text)) return nullptr;
    line_ = line;
    return lines[line].Profile;
}

const TOutputProfile* TProfileSelection::Profile() const {
    return OutputFormatLines()[line_].Profile;
}

const std::string& TProfileSelection::FormatKey() const {
    return Profile()->FormatKey;
}
