// The output-format list and every profile, checked against a table written out here entry by
// entry, independently of the catalogue's own construction.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "app/core/ParameterReaders.h"
#include "app/core/ProfileCatalogue.h"
#include "app/core/SettingsKeys.h"
#include "app/core/TodaysEncoding.h"

namespace {

using TTexts = std::vector<std::string>;

const std::string kSeparator = "              -----------------------------------------";

struct TExpectedLine {
    int Line;
    const char* Text;  // nullptr: a separator line
    const char* Key;
};
void PrintTo(const TExpectedLine& line, std::ostream* os) {
    *os << "line " << line.Line;
}

const TExpectedLine kExpectedLines[] = {
    {0, "3GP - Mobile Video Format (*.3gp)", "3GP"},
    {1, "3G2 - Mobile Video Format (*.3g2)", "3G2"},
    {2, "ASF - Advance Streaming Format (*.asf)", "ASF"},
    {3, "AVI - Audio Video Interleave (*.avi)", "AVI"},
    {4, "AVI - DivX Video (*.avi)", "AVI"},
    {5, "AVI - Uncompress (*.avi)", "AVI"},
    {6, "AVI - XviD Video (*.avi)", "AVI"},
    {7, "DVD - VOB (*.vob)", "VOB"},
    {8, "FLV - Flash Video (*.flv)", "FLV"},
    {9, "MOV - QuickTime Video (*.mov)", "MOV"},
    {10, "MP4 - MPEG4 Video (*.mp4)", "MP4"},
    {11, "MPEG-1 Movie (*.mpg)", "MPG"},
    {12, "MPEG-2 Movie (*.mpg)", "MPG"},
    {13, "RM - Real Video (*.rm)", "RM"},
    {14, "SWF - Flash Swf (*.swf)", "SWF"},
    {15, "Super Video CD (*.mpg)", "MPG"},
    {16, "Video CD (*.mpg)", "MPG"},
    {17, "WMV - Windows Media Video (*.wmv)", "WMV"},
    {18, nullptr, ""},
    {19, "AAC - Advance Audio Coding (*.aac)", "AAC"},
    {20, "AU - SUN Audio (*.au)", "AU"},
    {21, "M4A - Mpeg4 Audio File (*.m4a)", "M4A"},
    {22, "MP2 - Mpeg Layer2 Audio (*.mp2)", "MP2"},
    {23, "MP3 - Mpeg Layer3 Audio (*.mp3)", "MP3"},
    {24, "OGG - Ogg Vorbis Audio (*.ogg)", "OGG"},
    {25, "RA - Real Audio (*.ra)", "RA"},
    {26, "WAV - Waveform Audio (*.wav)", "WAV"},
    {27, "WMA - Windows Media Audio (*.wma)", "WMA"},
    {28, nullptr, ""},
    {29, "iPod (*.mp4)", "MP4"},
    {30, "iPod Extra (640 x 480) (*.mp4)", "MP4"},
    {31, "iPod Video For TV (*.mp4)", "MP4"},
    {32, nullptr, ""},
    {33, "Apple TV (*.mp4)", "MP4"},
    {34, "Apple TV (Normal Quality) (*.mp4)", "MP4"},
    {35, "Apple TV (High Quality) (*.mp4)", "MP4"},
    {36, "Apple TV H264 (320 x 240) (*.mp4)", "MP4"},
    {37, "Apple TV H264 (640 x 480) (*.mp4)", "MP4"},
    {38, "Apple TV H264 (1280 x 720) (*.mp4)", "MP4"},
    {39, nullptr, ""},
    {40, "iPod Touch (*.mp4)", "MP4"},
    {41, "iPod Touch Extra (640 x 480) (*.mp4)", "MP4"},
    {42, "iPod Touch Wide Screen (*.mp4)", "MP4"},
    {43, nullptr, ""},
    {44, "iPhone (*.mp4)", "MP4"},
    {45, "iPhone Extra (640 x 480) (*.mp4)", "MP4"},
    {46, "iPhone Wide Screen (*.mp4)", "MP4"},
    {47, nullptr, ""},
    {48, "Zune Mpeg4 Video (*.mp4)", "MP4"},
    {49, "Zune WMV Windows Media Video (*.wmv)", "WMV"},
    {50, nullptr, ""},
    {51, "PSP Video (*.mp4)", "MP4"},
    {52, "PS3 Video (*.mp4)", "MP4"},
    {53, "PS3 Video(480P) (*.mp4)", "MP4"},
    {54, "PS3 Video(720P) (*.mp4)", "MP4"},
    {55, "PS3 Video(1080P) (*.mp4)", "MP4"},
    {56, nullptr, ""},
    {57, "Archos AV500/GMini402 (*.avi)", "AVI"},
    {58, "Archos AV700 (*.avi)", "AVI"},
    {59, "BlackBerry MPEG-4 Video (*.mp4)", "MP4"},
    {60, "BlackBerry AVI Video (*.avi)", "AVI"},
    {61, "BlackBerry 3GP Video (*.3gp)", "3GP"},
    {62, "Creative Zen Vision (*.avi)", "AVI"},
    {63, "iRiver PMP100 (*.avi)", "AVI"},
};

const std::vector<TExpectedLine> kTodaysLines = {
    {64, nullptr, ""},
    {65, "MP4 - H.264 + AAC", "MP4"},
    {66, "MP4 - H.265 (HEVC) + AAC", "MP4"},
    {67, "MKV - H.264 + every audio and subtitle track", "MKV"},
    {68, "WebM - VP9 + Opus", "WEBM"},
    {69, "WebM - AV1 + Opus", "WEBM"},
    {70, "MP4 - Phone (1080p H.264)", "MP4"},
    {71, "MP4 - Web upload (1080p H.264, fast start)", "MP4"},
    {72, "Opus", "OPUS"},
    {73, "FLAC (lossless)", "FLAC"},
    {74, "M4A - ALAC (lossless)", "M4A"},
    {75, "MP3 (VBR quality)", "MP3"},
    {76, "GIF - Animated (palette)", "GIF"},
    {77, "WebP - Animated", "WEBP"},
};

// The catalogue's 64 lines come first, as they always were; today's group follows under a
// separator of its own.
TEST(OutputFormatListTest, HasSixtyFourLinesOfWhichEightSeparators) {
    const auto& lines = OutputFormatLines();
    ASSERT_EQ(lines.size(), std::size(kExpectedLines) + kTodaysLines.size());
    int separators = 0;
    for (int i = 0; i < kCatalogueLineCount; ++i) separators += lines[i].Profile == nullptr;
    EXPECT_EQ(separators, 8);
    for (std::size_t i = kCatalogueLineCount; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].Profile == nullptr, i == kCatalogueLineCount) << lines[i].Text;
}

class OutputFormatLineTest : public ::testing::TestWithParam<TExpectedLine> {};

TEST_P(OutputFormatLineTest, LineMatches) {
    const TExpectedLine& expected = GetParam();
    const TCatalogueLine& line = OutputFormatLines().at(expected.Line);
    if (expected.Text == nullptr) {
        EXPECT_EQ(line.Text, kSeparator);
        EXPECT_EQ(line.Profile, nullptr);
        EXPECT_TRUE(IsSeparatorText(line.Text));
        return;
    }
    EXPECT_EQ(line.Text, expected.Text);
    ASSERT_NE(line.Profile, nullptr);
    EXPECT_EQ(line.Profile->DisplayName, expected.Text);
    EXPECT_EQ(line.Profile->FormatKey, expected.Key);
    EXPECT_EQ(FindProfile(expected.Text), line.Profile);
    EXPECT_FALSE(IsSeparatorText(line.Text));
}

INSTANTIATE_TEST_SUITE_P(AllLines, OutputFormatLineTest, ::testing::ValuesIn(kExpectedLines),
                         [](const auto& testInfo) {
                             return "Line" + std::to_string(testInfo.param.Line);
                         });
INSTANTIATE_TEST_SUITE_P(TodaysLines, OutputFormatLineTest, ::testing::ValuesIn(kTodaysLines),
                         [](const auto& testInfo) {
                             return "Line" + std::to_string(testInfo.param.Line);
                         });

// Today's profiles: sizes by height, quality steps with "Standard" preselected (the lossless
// ones have none), no video bit-rate list, and every one read by the reader of today.
TEST(TodaysProfilesTest, ListsOfTheGroup) {
    const TTexts heights = {"Original", "2160p", "1440p", "1080p", "720p", "480p", "360p"};
    for (const TExpectedLine& line : kTodaysLines) {
        if (!line.Text || IsAnimatedPictureKey(line.Key)) continue;
        SCOPED_TRACE(line.Text);
        const TOutputProfile& profile = *FindProfile(line.Text);
        EXPECT_EQ(profile.Reader, TParameterReader::prToday);
        EXPECT_TRUE(profile.VideoBitrates.Items.empty());
        const bool lossless = std::string(line.Text).find("lossless") != std::string::npos;
        if (lossless) {
            EXPECT_TRUE(profile.Qualities.Items.empty());
        } else {
            EXPECT_EQ(profile.Qualities.Items, QualityEntries());
            EXPECT_EQ(profile.Qualities.SelectedText(), "Standard");
        }
        EXPECT_EQ(IsAudioFormatKey(profile.FormatKey), profile.VideoCodecs.Items.empty());
        if (profile.VideoCodecs.Items.empty()) continue;
        const bool phone = std::string(line.Text).find("1080p") != std::string::npos;
        const TTexts phoneSizes = {"1080p", "720p", "480p"};
        EXPECT_EQ(profile.VideoSizes.Items, phone ? phoneSizes : heights);
        EXPECT_EQ(profile.VideoSizes.SelectedText(), phone ? "1080p" : "Original");
        EXPECT_EQ(profile.VideoFramerates.SelectedText(), "Auto");
        // Opus' rate follows the quality; AAC keeps a bit-rate list.
        const bool opus = profile.AudioCodecs.SelectedText() == "opus";
        EXPECT_EQ(profile.AudioBitrates.Items.empty(), opus);
    }
    TParameterLists lists;
    lists.ApplyProfile(*FindProfile("WebM - AV1 + Opus"));
    EXPECT_EQ(lists.Quality.SelectedText(), "Standard");
    lists.ApplyProfile(*FindProfile("FLAC (lossless)"));
    EXPECT_TRUE(lists.Quality.Items.empty()) << "a profile without steps empties the list";
}

// The animated pictures: widths and a few frames a second, no sound; the GIF's palette takes no
// quality step, the WebP's quality does.
TEST(TodaysProfilesTest, AnimatedPicturesHaveWidthsAndNoSound) {
    for (const char* name : {"GIF - Animated (palette)", "WebP - Animated"}) {
        SCOPED_TRACE(name);
        const TOutputProfile& profile = *FindProfile(name);
        EXPECT_EQ(profile.VideoSizes.SelectedText(), "480 px wide");
        for (const std::string& entry : profile.VideoSizes.Items)
            EXPECT_TRUE(entry == "Original" || WidthOfEntry(entry)) << entry;
        EXPECT_LE(ParseFrameRateText(profile.VideoFramerates.SelectedText())->Num, 15);
        EXPECT_TRUE(profile.AudioCodecs.Items.empty());
        EXPECT_TRUE(profile.SampleRates.Items.empty());
        EXPECT_EQ(profile.Qualities.Items.empty(), profile.FormatKey == "GIF");
    }
}

// The window's order: today's groups first under the names of what people do, each profile of
// the list in exactly one group, the catalogue's groups after them in line order, split where
// its separators are.
TEST(ProfileGroupsTest, TodayFirstThenTheCatalogueUnderItsDevices) {
    const auto& groups = ProfileGroups();
    const TTexts todaysHeadings = {"Phone", "Web upload", "Keep quality",      "Small file",
                                   "Audio", "Lossless",   "Chat and web clips"};
    ASSERT_EQ(groups.size(), todaysHeadings.size() + 9);
    std::multiset<int> seen;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const TProfileGroup& group = groups[g];
        SCOPED_TRACE(group.Heading);
        EXPECT_EQ(group.Today, g < todaysHeadings.size());
        if (group.Today) {
            EXPECT_EQ(group.Heading, todaysHeadings[g]);
        }
        EXPECT_FALSE(group.Lines.empty());
        for (int line : group.Lines) {
            ASSERT_GE(line, 0);
            ASSERT_LT(line, static_cast<int>(OutputFormatLines().size()));
            EXPECT_NE(OutputFormatLines()[line].Profile, nullptr) << line;
            EXPECT_EQ(IsTodaysLine(line), group.Today) << line;
            seen.insert(line);
        }
    }
    std::multiset<int> profiles;
    for (const TExpectedLine& line : kExpectedLines) {
        if (line.Text) profiles.insert(line.Line);
    }
    for (const TExpectedLine& line : kTodaysLines) {
        if (line.Text) profiles.insert(line.Line);
    }
    EXPECT_EQ(seen, profiles);

    const auto groupOf = [&](const std::string& name) {
        for (const TProfileGroup& group : groups) {
            for (int line : group.Lines) {
                if (OutputFormatLines()[line].Text == name) return group.Heading;
            }
        }
        return std::string();
    };
    EXPECT_EQ(groups.front().Lines.front(), 70) << "the phone profile opens the list";
    EXPECT_EQ(groupOf("MP4 - H.264 + AAC"), "Keep quality");
    EXPECT_EQ(groupOf("FLAC (lossless)"), "Lossless");
    EXPECT_EQ(groupOf("3GP - Mobile Video Format (*.3gp)"), groupOf("Video CD (*.mpg)"));
    EXPECT_EQ(groupOf("Zune Mpeg4 Video (*.mp4)"), "Zune");
    EXPECT_EQ(groupOf("PS3 Video(1080P) (*.mp4)"), groupOf("PSP Video (*.mp4)"));
    EXPECT_EQ(groupOf("iRiver PMP100 (*.avi)"), groupOf("Archos AV700 (*.avi)"));
    EXPECT_NE(groupOf("iPod (*.mp4)"), groupOf("iPod Touch (*.mp4)"));
}

// ---- Every profile's lists ----

// The shared value lists, as the catalogue's description gives them.
const TTexts kStdSizes = {
    "Original Video Size", "128 x 96 (SQCIF)", "160 x 120 (QVGA)", "176 x 120", "176 x 144 (QCIF)",
    "192 x 144",           "208 x 176",        "220 x 176",        "240 x 180", "320 x 200",
    "320 x 240 (VGA)",     "352 x 240",        "352 x 288 (CIF)",  "480 x 272", "480 x 360",
    "480 x 480",           "480 x 576",        "624 x 352",        "640 x 352", "640 x 480",
    "704 x 576 (4CIF)",    "720 x 480",        "720 x 576"};
const TTexts kStdVbr = {"192 Kbps",  "200 Kbps",  "216 Kbps",  "384 Kbps",  "512 Kbps",
                        "640 Kbps",  "768 Kbps",  "1000 Kbps", "1200 Kbps", "1500 Kbps",
                        "1600 Kbps", "2000 Kbps", "2500 Kbps"};
const TTexts kAviVbr = {"192 Kbps", "200 Kbps",  "216 Kbps",  "384 Kbps",  "512 Kbps", "640 Kbps",
                        "768 Kbps", "1000 Kbps", "1200 Kbps", "1500 Kbps", "2500 Kbps"};
const TTexts kStdFps = {"Auto",     "14.985 fps", "15.0 fps", "23.975 fps",
                        "25.0 fps", "29.97 fps",  "30.0 fps"};
const TTexts kStdAbr = {"32 Kbps",  "40 Kbps",  "48 Kbps",  "64 Kbps",  "80 Kbps",
                        "96 Kbps",  "112 Kbps", "128 Kbps", "160 Kbps", "192 Kbps",
                        "224 Kbps", "256 Kbps", "320 Kbps"};
const TTexts kStdRates = {"8000 Hz",  "16000 Hz", "22050 Hz", "32000 Hz",
                          "44100 Hz", "48000 Hz", "54000 Hz", "96000 Hz"};
const TTexts kWideRates = {"8000 Hz",  "16000 Hz", "22050 Hz", "32000 Hz",
                           "44100 Hz", "48000 Hz", "54000 Hz", "96000 Hz"};
const TTexts kMpegSizes = {"128 x 96 (SQCIF)", "176 x 144 (QCIF)", "352 x 240", "352 x 288 (CIF)",
                           "480 x 272",        "480 x 480",        "640 x 480", "704 x 576 (4CIF)"};
const TTexts kMpegFps = {"23.976 fps [NTSC]", "24 fps", "25 fps [PAL]", "29.97 fps [NTSC]",
                         "30.0 fps",          "50 fps", "59.94 fps"};
const TTexts kPortableVbr = {"512 Kbps", "800 Kbps", "1200 Kbps", "1500 Kbps", "2500 Kbps"};
const TTexts kMobileSizes = {"128 x 96 (SQCIF)", "160 x 120 (QVGA)", "176 x 144 (QCIF)",
                             "208 x 176",        "220 x 176",        "320 x 240 (VGA)",
                             "352 x 288 (CIF)"};
const TTexts kAmr = {"4750 bps", "5150 bps", "5900 bps",  "6700 bps",
                     "7400 bps", "7950 bps", "10200 bps", "12200 bps"};
const TTexts kDeviceSizes = {"Auto",      "160 x 120", "320 x 240",
                             "480 x 272", "720 x 480", "640 x 480"};

struct TList {
    TTexts Items;
    std::string Default;  // "" for an empty list with nothing selected
};

const TList kNone = {{}, ""};

enum TResets { kKeeps, kResets, kMono };

struct TExpectedProfile {
    std::string Name;
    TList VideoCodecs, Sizes, VideoBitrates, Framerates, AudioCodecs, AudioBitrates, SampleRates;
    TResets Resets;
    TParameterReader Reader;
};
void PrintTo(const TExpectedProfile& profile, std::ostream* os) {
    *os << profile.Name;
}

constexpr auto kGeneric = TParameterReader::prGeneric;
constexpr auto kMobileAmr = TParameterReader::prMobileAmr;
constexpr auto kMp4Aac = TParameterReader::prMp4Aac;

TList One(const std::string& item) {
    return {{item}, item};
}

std::vector<TExpectedProfile> ExpectedProfiles() {
    const TList mobileVbr = {{"48 Kbps", "64 Kbps", "96 Kbps", "128 Kbps", "256 Kbps", "512 Kbps"},
                             "128 Kbps"};
    const TList mobileFps = {{"Auto", "11 fps", "14.985 fps", "15 fps"}, "Auto"};
    const TList aviAudio = {{"pcm_s16le", "mp3", "mp2", "ac3"}, "pcm_s16le"};
    const TList h264Vbr = {{"512 Kbps", "800 Kbps", "1200 Kbps", "1500 Kbps", "2000 Kbps",
                            "2500 Kbps", "4000 Kbps", "7000 Kbps"},
                           ""};
    const TTexts zuneSizes = {"320 x 240 ", "640 x 480"};
    const TTexts zuneVbr = {"256 Kbps",  "512 Kbps",  "768 Kbps",
                            "1200 Kbps", "1500 Kbps", "2000 Kbps"};
    const TTexts ps3Vbr = {"1200 Kbps", "1500 Kbps", "2000 Kbps", "2500 Kbps", "3000 Kbps"};
    const TTexts ps3Sizes = {"640 x 480", "720 x 480", "720 x 576"};
    const TTexts bbSizes = {"176 x 144", "240 x 180", "320 x 240"};
    const TList bbVbr = {{"80 Kbps", "120 Kbps", "200 Kbps", "256 Kbps", "300 Kbps", "512 Kbps"},
                         "300 Kbps"};
    const TList bbFps = {{"11 fps", "15 fps", "20 fps", "24 fps", "25 fps"}, "24 fps"};
    const TList bbAbr = {{"40 Kbps", "48 Kbps", "64 Kbps", "80 Kbps", "96 Kbps", "112 Kbps"},
                         "80 Kbps"};
    auto withDefault = [](TList list, const std::string& selected) {
        list.Default = selected;
        return list;
    };
    return {
        {"3GP - Mobile Video Format (*.3gp)",
         {{"MPEG4", "H263", "H264"}, "MPEG4"},
         {kMobileSizes, "176 x 144 (QCIF)"},
         mobileVbr,
         mobileFps,
         {{"amr_nb", "mpeg4aac"}, "amr_nb"},
         {kAmr, "7400 bps"},
         {{"8000 Hz", "16000 Hz"}, "8000 Hz"},
         kMono,
         kMobileAmr},
        {"3G2 - Mobile Video Format (*.3g2)",
         {{"MPEG4", "H263", "H264"}, "MPEG4"},
         {kMobileSizes, "176 x 144 (QCIF)"},
         mobileVbr,
         mobileFps,
         {{"amr_nb", "mpeg4aac"}, "amr_nb"},
         {kAmr, "7400 bps"},
         {{"8000 Hz", "16000 Hz"}, "8000 Hz"},
         kMono,
         kMobileAmr},
        {"ASF - Advance Streaming Format (*.asf)",
         One("MSMPEG4"),
         {kStdSizes, "Original Video Size"},
         {{"1200 Kbps", "1500 Kbps", "2000 Kbps", "2500 Kbps", "3000 Kbps"}, "1200 Kbps"},
         {kStdFps, "Auto"},
         One("mp3"),
         {kStdAbr, "128 Kbps"},
         {kStdRates, "48000 Hz"},
         kResets,
         kGeneric},
        {"AVI - Audio Video Interleave (*.avi)",
         {{"MPEG4", "H264"}, "MPEG4"},
         {kStdSizes, "Original Video Size"},
         {kAviVbr, "1200 Kbps"},
         {kStdFps, "Auto"},
         aviAudio,
         {kStdAbr, "128 Kbps"},
         {kStdRates, "48000 Hz"},
         kResets,
         kGeneric},
        {"AVI - DivX Video (*.avi)",
         One("MPEG4"),
         {kStdSizes, "Original Video Size"},
         {kAviVbr, "1200 Kbps"},
         {kStdFps, "Auto"},
         One("mp3"),
         {kStdAbr, "128 Kbps"},
         {kStdRates, "48000 Hz"},
         kResets,
         kGeneric},
        {"AVI - Uncompress (*.avi)",
         One("RAWVIDEO"),
         {kStdSizes, "Original Video Size"},
         {kAviVbr, "1200 Kbps"},
         {kStdFps, "Auto"},
         aviAudio,
         {kStdAbr, "128 Kbps"},
         {kStdRates, "48000 Hz"},
         kResets,
         kGeneric},
        {"AVI - XviD Video (*.avi)",
         One("XVID"),
         {kStdSizes, "Original Video Size"},
         {kAviVbr, "1200 Kbps"},
         {kStdFps, "Auto"},
         One("mp3"),
         {kStdAbr, "128 Kbps"},
         {kStdRates, "48000 Hz"},
         kResets,
         kGeneric},
        {"DVD - VOB (*.vob)",
         One("MPEG2VIDEO"),
         {{"128 x 96 (SQCIF)", "176 x 144 (QCIF)", "352 x 240", "352 x 288 (CIF)", "480 x 272",
           "480 x 480", "640 x 480", "704 x 576 (4CIF)", "720 x 480", "720 x 576"},
          "720 x 480"},
         One("6000 Kbps"),
         {kMpegFps, "29.97 fps [NTSC]"},
         {{"ac3", "mp2"}, "ac3"},
         {kStdAbr, "224 Kbps"},
         {{"44100 Hz", "48000 Hz", "54000 Hz", "96000 Hz"}, "48000 Hz"},
         kKeeps,
         kGeneric},
        {"FLV - Flash Video (*.flv)",
         One("FLV"),
         {kStdSizes, "Original Video Size"},
         {kStdVbr, "200 Kbps"},
         {kStdFps, "15.0 fps"},
         One("mp3"),
         {kStdAbr, "64 Kbps"},
         {{"11025 Hz", "22050 Hz", "44100 Hz"}, "44100 Hz"},
         kResets,
         kGeneric},
        {"MOV - QuickTime Video (*.mov)",
         One("MPEG4"),
         {kStdSizes, "Original Video Size"},
         {kStdVbr, "1200 Kbps"},
         {kStdFps, "Auto"},
         One("mpeg4aac"),
         {kStdAbr, "128 Kbps"},
         {kStdRates, "44100 Hz"},
         kResets,
         kGeneric},
        {"MP4 - MPEG4 Video (*.mp4)",
         {{"MPEG4", "H264", "XVid"}, "MPEG4"},
         {kStdSizes, "Original Video Size"},
         {kStdVbr, "1200 Kbps"},
         {kStdFps, "Auto"},
         One("mpeg4aac"),
         {kStdAbr, "128 Kbps"},
         {kStdRates, "44100 Hz"},
         kResets,
         kGeneric},
        {"MPEG-1 Movie (*.mpg)",
         One("MPEG1VIDEO"),
         {kStdSizes, "320 x 240 (VGA)"},
         {kStdVbr, "1600 Kbps"},
         {kStdFps, "25.0 fps"},
         One("mp2"),
         {kStdAbr, "192 Kbps"},
         {kStdRates, "44100 Hz"},
         kResets,
         kGeneric},
        {"MPEG-2 Movie (*.mpg)",
         One("MPEG2VIDEO"),
         {kStdSizes, "320 x 240 (VGA)"},
         {kStdVbr, "2000 Kbps"},
         {kStdFps, "25.0 fps"},
         {{"mp2", "ac3"}, "mp2"},
         {kStdAbr, "192 Kbps"},
         {kStdRates, "44100 Hz"},
         kResets,
         kGeneric},
        {"RM - Real Video (*.rm)",
         {{"RV10", "RV20"}, "RV10"},
         {kStdSizes, "320 x 240 (VGA)"},
         {{"384  Kbps", "400  Kbps", "600  Kbps", "1200 Kbps", "1800 Kbps", "2200 Kbps",
           "2600 Kbps", "3000 Kbps"},
          "384  Kbps"},
         {kStdFps, "Auto"},
         One("ac3"),
         {kStdAbr, "128 Kbps"},
         {kWideRates, "48000 Hz"},
         kResets,
         kGeneric},
        {"SWF - Flash Swf (*.swf)",
         One("FLV"),
         {kStdSizes, "Original Video Size"},
         {kStdVbr, "200 Kbps"},
         {kStdFps, "15.0 fps"},
         One("mp3"),
         {kStdAbr, "64 Kbps"},
         {{"11025 Hz", "22050 Hz", "44100 Hz"}, "44100 Hz"},
         kResets,
         kGeneric},
        {"Super Video CD (*.mpg)",
         One("MPEG2VIDEO"),
         {kMpegSizes, "480 x 480"},
         One("2040 Kbps"),
         {kMpegFps, "29.97 fps [NTSC]"},
         One("mp2"),
         {kStdAbr, "224 Kbps"},
         One("44100 Hz"),
         kKeeps,
         kGeneric},
        {"Video CD (*.mpg)",
         One("MPEG1VIDEO"),
         {kMpegSizes, "352 x 240"},
         One("1150 Kbps"),
         {kMpegFps, "29.97 fps [NTSC]"},
         One("mp2"),
         {kStdAbr, "224 Kbps"},
         One("44100 Hz"),
         kKeeps,
         kGeneric},
        {"WMV - Windows Media Video (*.wmv)",
         One("WMV2"),
         {kStdSizes, "320 x 240 (VGA)"},
         {kStdVbr, "1200 Kbps"},
         {kStdFps, "Auto"},
         One("wmav2"),
         {kStdAbr, "128 Kbps"},
         {kStdRates, "48000 Hz"},
         kResets,
         kGeneric},

        {"AAC - Advance Audio Coding (*.aac)",
         kNone,
         kNone,
         kNone,
         kNone,
         One("aac"),
         {kStdAbr, "128 Kbps"},
         {kStdRates, "48000 Hz"},
         kResets,
         kGeneric},
        {"AU - SUN Audio (*.au)",
         kNone,
         kNone,
         kNone,
         kNone,
         One("pcm_s16be"),
         {kStdAbr, "128 Kbps"},
         {kStdRates, "48000 Hz"},
         kResets,
         kGeneric},
        {"M4A - Mpeg4 Audio File (*.m4a)",
         kNone,
         kNone,
         kNone,
         kNone,
         One("mpeg4aac"),
         {kStdAbr, "128 Kbps"},
         {kStdRates, "48000 Hz"},
         kResets,
         kGeneric},
        {"MP2 - Mpeg Layer2 Audio (*.mp2)",
         kNone,
         kNone,
         kNone,
         kNone,
         One("mp2"),
         {kStdAbr, "224 Kbps"},
         {kStdRates, "48000 Hz"},
         kResets,
         kGeneric},
        {"MP3 - Mpeg Layer3 Audio (*.mp3)",
         kNone,
         kNone,
         kNone,
         kNone,
         One("mp3"),
         {kStdAbr, "192 Kbps"},
         {kStdRates, "48000 Hz"},
         kResets,
         kGeneric},
        {"OGG - Ogg Vorbis Audio (*.ogg)",
         kNone,
         kNone,
         kNone,
         kNone,
         One("vorbis"),
         {kStdAbr, "160 Kbps"},
         {kStdRates, "48000 Hz"},
         kResets,
         kGeneric},
        {"RA - Real Audio (*.ra)",
         kNone,
         kNone,
         kNone,
         kNone,
         One("ac3"),
         {kStdAbr, "128 Kbps"},
         {kWideRates, "48000 Hz"},
         kResets,
         kGeneric},
        {"WAV - Waveform Audio (*.wav)",
         kNone,
         kNone,
         kNone,
         kNone,
         One("pcm_s16le"),
         {kStdAbr, "128 Kbps"},
         {kWideRates, "44100 Hz"},
         kResets,
         kGeneric},
        {"WMA - Windows Media Audio (*.wma)",
         kNone,
         kNone,
         kNone,
         kNone,
         One("wmav2"),
         {kStdAbr, "128 Kbps"},
         {kWideRates, "48000 Hz"},
         kResets,
         kGeneric},

        {"iPod (*.mp4)",
         {{"MPEG4", "H264"}, "MPEG4"},
         One("320 x 240"),
         {kPortableVbr, "512 Kbps"},
         {kStdFps, "Auto"},
         One("mpeg4aac"),
         {kStdAbr, "64 Kbps"},
         {kStdRates, "44100 Hz"},
         kKeeps,
         kMp4Aac},
        {"iPod Extra (640 x 480) (*.mp4)",
         {{"MPEG4", "H264"}, "MPEG4"},
         One("640 x 480"),
         {kPortableVbr, "1500 Kbps"},
         {kStdFps, "Auto"},
         One("mpeg4aac"),
         {kStdAbr, "64 Kbps"},
         {kStdRates, "44100 Hz"},
         kKeeps,
         kMp4Aac},
        {"iPod Video For TV (*.mp4)",
         {{"MPEG4", "H264"}, "MPEG4"},
         One("640 x 480"),
         {kPortableVbr, "1500 Kbps"},
         {kStdFps, "Auto"},
         One("mpeg4aac"),
         {kStdAbr, "64 Kbps"},
         {kStdRates, "44100 Hz"},
         kKeeps,
         kMp4Aac},
        {"Apple TV (*.mp4)",
         One("MPEG4"),
         One("640 x 480"),
         {kPortableVbr, "1500 Kbps"},
         {kStdFps, "Auto"},
         One("mpeg4aac"),
         {kStdAbr, "128 Kbps"},
         {kStdRates, "44100 Hz"},
         kResets,
         kMp4Aac},
        {"Apple TV (Normal Quality) (*.mp4)",
         One("MPEG4"),
         One("640 x 480"),
         {kPortableVbr, "1200 Kbps"},
         {kStdFps, "Auto"},
         One("mpeg4aac"),
         {kStdAbr, "96 Kbps"},
         {kStdRates, "44100 Hz"},
         kResets,
         kMp4Aac},
        {"Apple TV (High Quality) (*.mp4)",
         One("MPEG4"),
         One("640 x 480"),
         {kPortableVbr, "1500 Kbps"},
         {kStdFps, "Auto"},
         One("mpeg4aac"),
         {kStdAbr, "128 Kbps"},
         {kStdRates, "44100 Hz"},
         kResets,
         kMp4Aac},
        {"Apple TV H264 (320 x 240) (*.mp4)",
         One("H264"),
         One("320 x 240"),
         withDefault(h264Vbr, "1200 Kbps"),
         {kStdFps, "29.97 fps"},
         One("mpeg4aac"),
         {kStdAbr, "64 Kbps"},
         {kStdRates, "48000 Hz"},
         kResets,
         kMp4Aac},
        {"Apple TV H264 (640 x 480) (*.mp4)",
         One("H264"),
         One("640 x 480"),
         withDefault(h264Vbr, "2000 Kbps"),
         {kStdFps, "29.97 fps"},
         One("mpeg4aac"),
         {kStdAbr, "64 Kbps"},
         {kStdRates, "48000 Hz"},
         kResets,
         kMp4Aac},
        {"Apple TV H264 (1280 x 720) (*.mp4)",
         One("H264"),
         One("1280 x 720"),
         withDefault(h264Vbr, "2500 Kbps"),
         {kStdFps, "23.975 fps"},
         One("mpeg4aac"),
         {kStdAbr, "64 Kbps"},
         {kStdRates, "48000 Hz"},
         kResets,
         kMp4Aac},
        {"iPod Touch (*.mp4)",
         One("MPEG4"),
         One("480 x 320"),
         {kPortableVbr, "1200 Kbps"},
         {kStdFps, "Auto"},
         One("mpeg4aac"),
         {kStdAbr, "80 Kbps"},
         {kStdRates, "44100 Hz"},
         kKeeps,
         kMp4Aac},
        {"iPod Touch Extra (640 x 480) (*.mp4)",
         One("MPEG4"),
         One("640 x 480"),
         {kPortableVbr, "1500 Kbps"},
         {kStdFps, "Auto"},
         One("mpeg4aac"),
         {kStdAbr, "80 Kbps"},
         {kStdRates, "44100 Hz"},
         kKeeps,
         kMp4Aac},
        {"iPod Touch Wide Screen (*.mp4)",
         One("MPEG4"),
         One("720 x 406"),
         {kPortableVbr, "1500 Kbps"},
         {kStdFps, "Auto"},
         One("mpeg4aac"),
         {kStdAbr, "128 Kbps"},
         {kStdRates, "44100 Hz"},
         kResets,
         kMp4Aac},
        {"iPhone (*.mp4)",
         One("MPEG4"),
         One("480 x 320"),
         {kPortableVbr, "1200 Kbps"},
         {kStdFps, "Auto"},
         One("mpeg4aac"),
         {kStdAbr, "80 Kbps"},
         {kStdRates, "44100 Hz"},
         kResets,
         kGeneric},
        {"iPhone Extra (640 x 480) (*.mp4)",
         One("MPEG4"),
         One("640 x 480"),
         {kPortableVbr, "1500 Kbps"},
         {kStdFps, "Auto"},
         One("mpeg4aac"),
         {kStdAbr, "128 Kbps"},
         {kStdRates, "44100 Hz"},
         kResets,
         kGeneric},
        {"iPhone Wide Screen (*.mp4)",
         One("MPEG4"),
         One("720 x 480"),
         {kPortableVbr, "1500 Kbps"},
         {kStdFps, "Auto"},
         One("mpeg4aac"),
         {kStdAbr, "128 Kbps"},
         {kStdRates, "44100 Hz"},
         kResets,
         kGeneric},

        {"Zune Mpeg4 Video (*.mp4)",
         {{"MPEG4", "H264"}, "MPEG4"},
         {zuneSizes, "320 x 240 "},
         {zuneVbr, "1500 Kbps"},
         One("29.97 fps"),
         One("mpeg4aac"),
         {kStdAbr, "128 Kbps"},
         {kWideRates, "44100 Hz"},
         kResets,
         kGeneric},
        {"Zune WMV Windows Media Video (*.wmv)",
         One("WMV2"),
         {zuneSizes, "320 x 240 "},
         {zuneVbr, "1200 Kbps"},
         {kStdFps, "Auto"},
         One("wmav2"),
         {kStdAbr, "128 Kbps"},
         {kWideRates, "48000 Hz"},
         kResets,
         kGeneric},

        {"PSP Video (*.mp4)",
         {{"MPEG4", "H264", "XVID"}, "MPEG4"},
         {{"160 x 112", "320 x 240", "368 x 208", "480 x 272"}, "368 x 208"},
         One("768 Kbps"),
         {{"14.985 fps", "29.97 fps"}, "29.97 fps"},
         One("mpeg4aac"),
         {{"32 Kbps", "48 Kbps", "64 Kbps", "96 Kbps", "128 Kbps", "160 Kbps"}, "64 Kbps"},
         One("24000 Hz"),
         kResets,
         kGeneric},
        {"PS3 Video (*.mp4)",
         One("H264"),
         {ps3Sizes, "720 x 480"},
         {ps3Vbr, "1200 Kbps"},
         One("29.97 fps"),
         One("mpeg4aac"),
         {kStdAbr, "96 Kbps"},
         {kWideRates, "44100 Hz"},
         kResets,
         kGeneric},
        {"PS3 Video(480P) (*.mp4)",
         One("H264"),
         {ps3Sizes, "720 x 480"},
         {ps3Vbr, "1200 Kbps"},
         One("29.97 fps"),
         One("mpeg4aac"),
         {kStdAbr, "96 Kbps"},
         {kWideRates, "44100 Hz"},
         kResets,
         kGeneric},
        {"PS3 Video(720P) (*.mp4)",
         One("H264"),
         One("1280 x 720"),
         {ps3Vbr, "2000 Kbps"},
         One("29.97 fps"),
         One("mpeg4aac"),
         {kStdAbr, "96 Kbps"},
         {kWideRates, "44100 Hz"},
         kResets,
         kGeneric},
        {"PS3 Video(1080P) (*.mp4)",
         One("H264"),
         One("1920 x 1072"),
         {ps3Vbr, "2000 Kbps"},
         One("29.97 fps"),
         One("mpeg4aac"),
         {kStdAbr, "96 Kbps"},
         {kWideRates, "44100 Hz"},
         kResets,
         kGeneric},

        {"Archos AV500/GMini402 (*.avi)",
         One("MPEG4"),
         {kDeviceSizes, "480 x 272"},
         {kStdVbr, "1200 Kbps"},
         {kStdFps, "Auto"},
         {{"mp3", "mp2"}, "mp3"},
         {kStdAbr, "128 Kbps"},
         {kStdRates, "48000 Hz"},
         kKeeps,
         kGeneric},
        {"Archos AV700 (*.avi)",
         One("MPEG4"),
         {kDeviceSizes, "720 x 480"},
         {{"1000 Kbps", "1200 Kbps", "1500 Kbps", "2000 Kbps", "2500 Kbps"}, "2000 Kbps"},
         {kStdFps, "Auto"},
         {{"mp3", "mp2"}, "mp3"},
         {kStdAbr, "128 Kbps"},
         {kStdRates, "48000 Hz"},
         kKeeps,
         kGeneric},
        {"BlackBerry MPEG-4 Video (*.mp4)",
         One("MPEG4"),
         {bbSizes, "320 x 240"},
         bbVbr,
         bbFps,
         One("mpeg4aac"),
         bbAbr,
         {kStdRates, "44100 Hz"},
         kKeeps,
         kGeneric},
        {"BlackBerry AVI Video (*.avi)",
         One("H263"),
         One("176 x 144"),
         bbVbr,
         bbFps,
         {{"mp3", "pcm_s16le"}, "mp3"},
         bbAbr,
         {kStdRates, "44100 Hz"},
         kKeeps,
         kGeneric},
        {"BlackBerry 3GP Video (*.3gp)",
         {{"MPEG4", "H263"}, "MPEG4"},
         {bbSizes, "176 x 144"},
         {{"48 Kbps", "64 Kbps", "96 Kbps", "120 Kbps", "128 Kbps", "256 Kbps", "512 Kbps"},
          "120 Kbps"},
         {{"Auto", "11 fps", "15 fps", "20 fps", "24 fps", "25 fps"}, "15 fps"},
         {{"amr_nb", "mpeg4aac"}, "amr_nb"},
         {kAmr, "4750 bps"},
         {{"8000 Hz", "16000 Hz"}, "8000 Hz"},
         kKeeps,
         kGeneric},
        {"Creative Zen Vision (*.avi)",
         One("MPEG4"),
         {kDeviceSizes, "640 x 480"},
         {kStdVbr, "1200 Kbps"},
         {kStdFps, "Auto"},
         {{"mp3", "mp2"}, "mp3"},
         {kStdAbr, "128 Kbps"},
         {kStdRates, "48000 Hz"},
         kKeeps,
         kGeneric},
        {"iRiver PMP100 (*.avi)",
         One("MPEG4"),
         {kDeviceSizes, "640 x 480"},
         {kStdVbr, "1200 Kbps"},
         {kStdFps, "Auto"},
         {{"mp3", "mp2"}, "mp3"},
         {kStdAbr, "128 Kbps"},
         {kStdRates, "48000 Hz"},
         kKeeps,
         kGeneric},
    };
}

void ExpectList(const TChoiceList& actual, const TList& expected, const char* which) {
    SCOPED_TRACE(which);
    EXPECT_EQ(actual.Items, expected.Items);
    EXPECT_EQ(actual.SelectedText(), expected.Default);
    if (expected.Default.empty()) {
        EXPECT_EQ(actual.Selected, -1);
    }
}

TEST(ProfileTableTest, CoversEveryProfileOfTheList) {
    std::set<std::string> expected;
    for (const auto& profile : ExpectedProfiles()) expected.insert(profile.Name);
    std::set<std::string> listed;
    for (int i = 0; i < kCatalogueLineCount; ++i) {
        const TCatalogueLine& line = OutputFormatLines()[i];
        if (line.Profile) listed.insert(line.Text);
    }
    EXPECT_EQ(expected.size(), 56u);
    EXPECT_EQ(listed, expected);
}

class ProfileTest : public ::testing::TestWithParam<TExpectedProfile> {};

TEST_P(ProfileTest, FillsItsListsWithTheirDefaults) {
    const TExpectedProfile& expected = GetParam();
    const TOutputProfile* profile = FindProfile(expected.Name);
    ASSERT_NE(profile, nullptr);
    ExpectList(profile->VideoCodecs, expected.VideoCodecs, "video codecs");
    ExpectList(profile->VideoSizes, expected.Sizes, "sizes");
    ExpectList(profile->VideoBitrates, expected.VideoBitrates, "video bit rates");
    ExpectList(profile->VideoFramerates, expected.Framerates, "frame rates");
    ExpectList(profile->AudioCodecs, expected.AudioCodecs, "audio codecs");
    ExpectList(profile->AudioBitrates, expected.AudioBitrates, "audio bit rates");
    ExpectList(profile->SampleRates, expected.SampleRates, "sample rates");
    EXPECT_EQ(profile->Reader, expected.Reader);
}

// What the profile leaves in the channels and aspect lists, starting from "Mono" and "16:9".
TEST_P(ProfileTest, ResetsChannelsAndAspectAsItSays) {
    const TExpectedProfile& expected = GetParam();
    TParameterLists lists;
    lists.AudioChannels.Selected = 1;
    lists.AspectRatio.Selected = 2;
    lists.ApplyProfile(*FindProfile(expected.Name));
    switch (expected.Resets) {
        case kKeeps:
            EXPECT_EQ(lists.AudioChannels.SelectedText(), "Mono");
            EXPECT_EQ(lists.AspectRatio.SelectedText(), "16:9 (Wide Screen)");
            break;
        case kResets:
            EXPECT_EQ(lists.AudioChannels.SelectedText(), "Stereo");
            EXPECT_EQ(lists.AspectRatio.SelectedText(), "Original");
            break;
        case kMono:
            lists.AudioChannels.Selected = 0;
            lists.ApplyProfile(*FindProfile(expected.Name));
            EXPECT_EQ(lists.AudioChannels.SelectedText(), "Mono");
            EXPECT_EQ(lists.AspectRatio.SelectedText(), "16:9 (Wide Screen)");
            break;
    }
    ExpectList(lists.VideoSize, expected.Sizes, "sizes in the window's lists");
    ExpectList(lists.AudioBitrate, expected.AudioBitrates, "audio bit rates in the window's lists");
}

std::string TestName(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c))) out += c;
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(AllProfiles, ProfileTest, ::testing::ValuesIn(ExpectedProfiles()),
                         [](const auto& testInfo) { return TestName(testInfo.param.Name); });

// ---- Choosing in the output-format list ----

TEST(ProfileSelectionTest, SeparatorStepsBackToTheRememberedProfile) {
    TProfileSelection selection;
    EXPECT_EQ(selection.SelectedLine(), kDefaultFormatLine);
    EXPECT_EQ(selection.FormatKey(), "MP4");

    const TOutputProfile* avi = selection.Choose(3);
    ASSERT_NE(avi, nullptr);
    EXPECT_EQ(avi->DisplayName, "AVI - Audio Video Interleave (*.avi)");
    EXPECT_EQ(selection.FormatKey(), "AVI");

    for (int separator : {18, 28, 32, 39, 43, 47, 50, 56}) {
        EXPECT_EQ(selection.Choose(separator), nullptr) << separator;
        EXPECT_EQ(selection.SelectedLine(), 3);
        EXPECT_EQ(selection.FormatKey(), "AVI");
    }
    EXPECT_EQ(selection.Choose(64), nullptr);
    EXPECT_EQ(selection.Choose(-1), nullptr);
    EXPECT_EQ(selection.SelectedLine(), 3);

    ASSERT_NE(selection.Choose(7), nullptr);
    EXPECT_EQ(selection.FormatKey(), "VOB");
}

TEST(ParameterListsTest, AudioProfileAfterVideoProfileEmptiesTheVideoLists) {
    TParameterLists lists;
    lists.ApplyProfile(*FindProfile("AVI - Audio Video Interleave (*.avi)"));
    EXPECT_EQ(lists.VideoCodec.SelectedText(), "MPEG4");
    lists.ApplyProfile(*FindProfile("MP3 - Mpeg Layer3 Audio (*.mp3)"));
    for (const TChoiceList* list :
         {&lists.VideoCodec, &lists.VideoSize, &lists.VideoBitrate, &lists.VideoFramerate}) {
        EXPECT_TRUE(list->Items.empty());
        EXPECT_EQ(list->Selected, -1);
        EXPECT_EQ(list->SelectedText(), "");
    }
    EXPECT_EQ(lists.AudioCodec.SelectedText(), "mp3");
}

TEST(ParameterListsTest, IpodKeepsMonoAndIpodTouchWideScreenResetsIt) {
    TParameterLists lists;
    lists.ApplyProfile(*FindProfile("3GP - Mobile Video Format (*.3gp)"));
    EXPECT_EQ(lists.AudioChannels.SelectedText(), "Mono");
    lists.ApplyProfile(*FindProfile("iPod (*.mp4)"));
    EXPECT_EQ(lists.AudioChannels.SelectedText(), "Mono");
    lists.ApplyProfile(*FindProfile("iPod Touch Wide Screen (*.mp4)"));
    EXPECT_EQ(lists.AudioChannels.SelectedText(), "Stereo");
}

TEST(ProfileSelectionTest, FirstRunSelectsTodaysH264Profile) {
    EXPECT_EQ(OutputFormatLines().at(kDefaultOutputFormat).Text, "MP4 - H.264 + AAC");
    EXPECT_EQ(TProfileSelection().SelectedLine(), kDefaultOutputFormat);
}

TEST(ParameterListsTest, ChannelsAndAspectHoldTheirFixedEntries) {
    const TParameterLists lists;
    EXPECT_EQ(lists.AudioChannels.Items, (TTexts{"Stereo", "Mono"}));
    EXPECT_EQ(lists.AspectRatio.Items, (TTexts{"Original", "4:3 (Standard", "16:9 (Wide Screen)"}));
    EXPECT_EQ(LetterBoxEntries(), (TTexts{"None", "LetterBox"}));
}

}  // namespace
