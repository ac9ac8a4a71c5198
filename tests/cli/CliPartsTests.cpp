// The front end's own pieces, without running the program: finding list entries from typed
// texts, the plan a command line makes and the progress line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/core/EntryLookup.h"
#include "app/core/ProfileCatalogue.h"
#include "app/core/UserData.h"
#include "cli/ChapterSplit.h"
#include "cli/ConvertSettings.h"
#include "cli/ProgressLine.h"
#include "support/TempDir.h"

namespace {

// ---- FindEntry on the catalogue's own lists

const TOutputProfile& Profile(const std::string& name) {
    const TOutputProfile* profile = FindProfile(name);
    if (!profile) throw std::runtime_error("no profile " + name);
    return *profile;
}

const std::vector<std::string>& StandardSizes() {
    return Profile("AVI - Audio Video Interleave (*.avi)").VideoSizes.Items;
}
const std::vector<std::string>& StandardVideoBitrates() {
    return Profile("MPEG-1 Movie (*.mpg)").VideoBitrates.Items;
}

struct TLookupCase {
    const char* Name;
    const std::vector<std::string>& (*Entries)();
    std::string Typed;
    std::optional<std::string> Found;     // the entry found, if one is
    std::vector<std::string> Candidates;  // the entries that fit equally well, if several
};

void PrintTo(const TLookupCase& lookup, std::ostream* out) {
    *out << lookup.Name;
}

class EntryLookupTest : public ::testing::TestWithParam<TLookupCase> {};

TEST_P(EntryLookupTest, FindsTheOneEntryMeantOrSaysWhichFit) {
    const TLookupCase& lookup = GetParam();
    const auto& entries = lookup.Entries();
    const TEntryLookup result = FindEntry(entries, lookup.Typed);
    if (lookup.Found) {
        ASSERT_TRUE(result.Found()) << result.Candidates.size() << " candidates";
        EXPECT_EQ(entries[result.Index], *lookup.Found);
        EXPECT_TRUE(result.Candidates.empty());
        return;
    }
    EXPECT_FALSE(result.Found()) << entries[result.Index];
    std::vector<std::string> candidates;
    for (int index : result.Candidates) candidates.push_back(entries[index]);
    EXPECT_EQ(candidates, lookup.Candidates);
}

const std::vector<std::string>& WideSampleRates() {
    return Profile("WAV - Waveform Audio (*.wav)").SampleRates.Items;
}
const std::vector<std::string>& MpegFramerates() {
    return Profile("Video CD (*.mpg)").VideoFramerates.Items;
}
const std::vector<std::string>& ZuneSizes() {
    return Profile("Zune Mpeg4 Video (*.mp4)").VideoSizes.Items;
}
const std::vector<std::string>& Channels() {
    return AudioChannelEntries();
}
const std::vector<std::string>& Aspects() {
    return AspectRatioEntries();
}

INSTANTIATE_TEST_SUITE_P(
    Lists, EntryLookupTest,
    ::testing::Values(
        TLookupCase{"ExactEntry", StandardSizes, "320 x 240 (VGA)", "320 x 240 (VGA)", {}},
        TLookupCase{"WithoutBlanks", StandardSizes, "320x240", "320 x 240 (VGA)", {}},
        TLookupCase{"OtherCase", StandardSizes, "320X240 (vga)", "320 x 240 (VGA)", {}},
        TLookupCase{"WholeEntryWithoutBlanks", StandardSizes, "176x120", "176 x 120", {}},
        TLookupCase{"WordEndWins", StandardVideoBitrates, "200", "200 Kbps", {}},
        TLookupCase{"UniqueStart", StandardVideoBitrates, "250", "2500 Kbps", {}},
        TLookupCase{
            "SeveralStarts", StandardVideoBitrates, "20", std::nullopt, {"200 Kbps", "2000 Kbps"}},
        TLookupCase{"SeveralWordEnds",
                    StandardSizes,
                    "480 x",
                    std::nullopt,
                    {"480 x 272", "480 x 360", "480 x 480", "480 x 576"}},
        TLookupCase{"SampleRateEntry", WideSampleRates, "8000 hz", "8000 Hz", {}},
        TLookupCase{"NumberOnly", WideSampleRates, "8000", "8000 Hz", {}},
        TLookupCase{"NtscRate", MpegFramerates, "29.97", "29.97 fps [NTSC]", {}},
        TLookupCase{"TrailingBlankEntry", ZuneSizes, "320x240", "320 x 240 ", {}},
        TLookupCase{"LowerCase", Channels, "mono", "Mono", {}},
        TLookupCase{"AspectByRatio", Aspects, "4:3", "4:3 (Standard", {}},
        TLookupCase{"WideAspect", Aspects, "16:9", "16:9 (Wide Screen)", {}},
        TLookupCase{"NotInTheList", StandardSizes, "999x999", std::nullopt, {}},
        TLookupCase{"LongerThanAnyEntry", Channels, "Stereo 5.1", std::nullopt, {}},
        TLookupCase{"Empty", StandardSizes, "", std::nullopt, {}},
        TLookupCase{"BlanksOnly", StandardSizes, "   ", std::nullopt, {}}),
    [](const auto& testInfo) { return std::string(testInfo.param.Name); });

// ---- the plan of a command line

// A whole name always wins; a start that several names share is refused with them listed,
// also where one of them is the catalogue's and the others today's.
TEST(ConvertPlanTest, ProfileTextsNameOneProfileOrAreRefused) {
    const auto& lines = OutputFormatLines();
    for (const auto& [text, name] : std::vector<std::pair<const char*, const char*>>{
             {"MP4 - H.264 + AAC", "MP4 - H.264 + AAC"},
             {"mp4 - h.264 + aac", "MP4 - H.264 + AAC"},
             {"Opus", "Opus"},
             {"MP3 - Mpeg", "MP3 - Mpeg Layer3 Audio (*.mp3)"},
             {"MP3 (", "MP3 (VBR quality)"},
             {"FLAC", "FLAC (lossless)"},
             {"10", "MP4 - MPEG4 Video (*.mp4)"},
             {"65", "MP4 - H.264 + AAC"}}) {
        EXPECT_EQ(lines[ProfileLineOf(text)].Text, name) << text;
    }
    const auto refusal = [](const std::string& text) {
        try {
            ProfileLineOf(text);
        } catch (const TUsageError& error) {
            return std::string(error.what());
        }
        return std::string("taken");
    };
    const std::string mp4 = refusal("MP4");
    EXPECT_NE(mp4.find("fits more than one profile"), std::string::npos) << mp4;
    for (const char* name : {"MP4 - MPEG4 Video (*.mp4)", "MP4 - H.264 + AAC",
                             "MP4 - Web upload (1080p H.264, fast start)"}) {
        EXPECT_NE(mp4.find(std::string("\"") + name + "\""), std::string::npos) << name;
    }
    const std::string mp3 = refusal("MP3");
    EXPECT_NE(mp3.find("\"MP3 - Mpeg Layer3 Audio (*.mp3)\""), std::string::npos) << mp3;
    EXPECT_NE(mp3.find("\"MP3 (VBR quality)\""), std::string::npos) << mp3;
    EXPECT_NE(refusal("MP4 - H").find("fits more than one"), std::string::npos);
}

TEST(ConvertPlanTest, ChosenEntriesBecomeTheSettingsTheBuilderReads) {
    TConvertRequest request;
    request.Profile = "mpeg-2";
    request.OutputFolder = "/tmp";
    request.VideoCodec = "mpeg2";
    request.VideoSize = "352x288";
    request.FrameRate = "29.97";
    request.AudioCodec = "ac3";
    request.Channels = "mono";
    request.Aspect = "16:9";
    request.Volume = "200%";
    request.LetterBox = true;
    const TConvertPlan plan = PlanConversion(request);
    EXPECT_EQ(plan.Profile->DisplayName, "MPEG-2 Movie (*.mpg)");
    EXPECT_EQ(plan.Line, 12);
    const TJobSettings& settings = plan.Settings;
    EXPECT_EQ(settings.FormatKey, "MPG");
    EXPECT_EQ(settings.Parameters.VideoCodec, "MPEG2VIDEO");
    EXPECT_EQ(settings.Parameters.VideoSize, "352 x 288 (CIF)");
    EXPECT_EQ(settings.Parameters.VideoFramerate, "29.97 fps");
    EXPECT_EQ(settings.Parameters.AudioCodec, "ac3");
    EXPECT_EQ(settings.Parameters.AudioChannels, "Mono");
    // Entries not asked for keep the profile's defaults.
    EXPECT_EQ(settings.Parameters.VideoBitrate, "2000 Kbps");
    EXPECT_EQ(settings.Parameters.SamplingRate, "44100 Hz");
    EXPECT_EQ(settings.AspectIndex, 2);
    EXPECT_EQ(settings.LetterBoxIndex, 1);
    EXPECT_EQ(settings.Volume, 600);
}

TEST(ConvertPlanTest, DefaultsAreTheWindowsAfterChoosingTheProfile) {
    TConvertRequest request;
    request.Profile = "0";
    const TConvertPlan plan = PlanConversion(request);
    EXPECT_EQ(plan.Settings.FormatKey, "3GP");
    EXPECT_EQ(plan.Settings.Reader, TParameterReader::prMobileAmr);
    EXPECT_EQ(plan.Settings.Parameters.AudioChannels, "Mono");  // the 3GP profile's reset
    EXPECT_EQ(plan.Settings.AspectIndex, 0);
    EXPECT_EQ(plan.Settings.LetterBoxIndex, 0);
    EXPECT_EQ(plan.Settings.Volume, 255);  // "100%"
}

// `--fit-size` in bytes: MB are millions, MiB 2^20; a sound-only profile cannot take it.
TEST(ConvertPlanTest, FitSizeBecomesBytesForVideoProfiles) {
    TConvertRequest request;
    request.Profile = "MP4 - H.264 + AAC";
    EXPECT_EQ(PlanConversion(request).Settings.FitSizeBytes, 0) << "no fit unless asked";
    for (const auto& [text, bytes] : {std::pair<const char*, int64_t>{"25MB", 25000000},
                                      {"10 MiB", 10485760},
                                      {"800kB", 800000},
                                      {"123456B", 123456}}) {
        request.FitSize = text;
        EXPECT_EQ(PlanConversion(request).Settings.FitSizeBytes, bytes) << text;
    }
    request.FitSize = "25 furlongs";
    EXPECT_THROW(PlanConversion(request), TUsageError);
    request.FitSize = "8";
    try {
        PlanConversion(request);
        ADD_FAILURE() << "a number without its unit was taken";
    } catch (const TUsageError& error) {
        EXPECT_NE(std::string(error.what()).find("8 bytes? write 8MB"), std::string::npos)
            << error.what();
    }
    request.Profile = "FLAC";
    request.FitSize = "25MB";
    EXPECT_THROW(PlanConversion(request), TUsageError);
}

// `--preset` reads the store the window writes; options given as well win over it.
TEST(ConvertPlanTest, PresetOfTheWindowGivesProfileAndChoices) {
    TTempDir data;
    const char* before = std::getenv("XDG_DATA_HOME");
    const std::string saved = before ? before : "";
    setenv("XDG_DATA_HOME", data.Path().c_str(), 1);
    TPresetStore store;
    TPreset preset{"Small AVI", {"AVI - Audio Video Interleave (*.avi)", {}, 2, 1, 7}};
    preset.Choices.Parameters.VideoSize = "320 x 240 (VGA)";
    preset.Choices.Parameters.AudioBitrate = "96 Kbps";
    store.Save(preset);
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(DefaultDataFolder() / kPresetsFileName, store.Json(), error));

    TConvertRequest request;
    request.Preset = "Small AVI";
    request.AudioBitrate = "128";
    const TConvertPlan plan = PlanConversion(request);
    EXPECT_EQ(plan.Settings.FormatKey, "AVI");
    EXPECT_EQ(plan.Settings.Parameters.VideoSize, "320 x 240 (VGA)");
    EXPECT_EQ(plan.Settings.Parameters.AudioBitrate, "128 Kbps");
    EXPECT_EQ(plan.Settings.AspectIndex, 2);
    EXPECT_EQ(plan.Settings.LetterBoxIndex, 1);
    EXPECT_EQ(plan.Settings.Volume, 350);

    request.Preset = "Nobody";
    try {
        PlanConversion(request);
        ADD_FAILURE() << "an unknown preset is a usage error";
    } catch (const TUsageError& refusal) {
        EXPECT_NE(std::string(refusal.what()).find("\"Small AVI\""), std::string::npos)
            << refusal.what();
    }
    request.Preset.reset();
    EXPECT_THROW(PlanConversion(request), TUsageError) << "neither --profile nor --preset";
    if (before) {
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    } else {
        unsetenv("XDG_DATA_HOME");
    }
}

// A preset saved with a fit and a quality step gives both to `convert --preset`, read back from
// the store's file as the window writes it; options given as well win over them, and the same
// target gives the same bytes whether it comes from the preset or from --fit-size.
TEST(ConvertPlanTest, PresetKeepsItsFitAndQualityStep) {
    TTempDir data;
    const char* before = std::getenv("XDG_DATA_HOME");
    const std::string saved = before ? before : "";
    setenv("XDG_DATA_HOME", data.Path().c_str(), 1);
    struct TFitCase {
        int64_t PresetBytes;
        std::optional<std::string> Option;
        int64_t Bytes;
    };
    const TFitCase cases[] = {{5000000, std::nullopt, 5000000},
                              {25000000, std::nullopt, 25000000},
                              {10485760, std::nullopt, 10485760},
                              {0, std::nullopt, 0},
                              {0, "5MB", 5000000},
                              {25000000, "25MB", 25000000},
                              {25000000, "10MiB", 10485760}};
    for (const TFitCase& c : cases) {
        TPresetStore store;
        TPreset preset{"Mail", {"MP4 - H.264 + AAC", {}, 0, 0, 5, c.PresetBytes}};
        preset.Choices.Parameters.Quality = "Small";
        store.Save(preset);
        std::string error;
        ASSERT_TRUE(
            WriteFileAtomically(DefaultDataFolder() / kPresetsFileName, store.Json(), error));
        TConvertRequest request;
        request.Preset = "Mail";
        request.FitSize = c.Option;
        const TConvertPlan plan = PlanConversion(request);
        EXPECT_EQ(plan.Settings.FitSizeBytes, c.Bytes) << c.PresetBytes;
        EXPECT_EQ(plan.Settings.Parameters.Quality, "Small");
    }
    TConvertRequest request;
    request.Preset = "Mail";
    request.Quality = "High";
    EXPECT_EQ(PlanConversion(request).Settings.Parameters.Quality, "High");
    request.Profile = "FLAC";
    request.Quality.reset();
    EXPECT_EQ(PlanConversion(request).Settings.FitSizeBytes, 0)
        << "a sound profile given over the preset's video one drops its fit";
    if (before) {
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    } else {
        unsetenv("XDG_DATA_HOME");
    }
}

// ---- progress line

// A chapter's output: its part of the file (the last to the end), its number among the file's
// chapters and a title any file system takes; chapters that hold nothing of the file go.
TEST(ChapterSplitTest, EachChapterWithLengthBecomesANamedPart) {
    const std::vector<TAVChapter> chapters = {{-20000, 2000000, "Intro"},
                                              {2000000, 2000000, "Empty"},
                                              {2000000, 5000000, "A/B: \"C\"?"},
                                              {5000000, 6000040, ""},
                                              {7000000, 8000000, "Past the end"}};
    const std::vector<TChapterPart> parts = ChapterParts(chapters, 6000000);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].Range, (TTimeRange{0, 2000000}));
    EXPECT_EQ(parts[0].NamePart, " - 01 - Intro");
    EXPECT_EQ(parts[1].Range, (TTimeRange{2000000, 5000000}));
    EXPECT_EQ(parts[1].LengthUs, 3000000);
    EXPECT_EQ(parts[1].NamePart, " - 03 - A_B_ _C__");
    EXPECT_EQ(parts[2].Range, (TTimeRange{5000000, -1}));
    EXPECT_EQ(parts[2].LengthUs, 1000000);
    EXPECT_EQ(parts[2].NamePart, " - 04 - Chapter 04");
    EXPECT_EQ(ChapterOutputName("/out/film.mp4", parts[0].NamePart), "/out/film - 01 - Intro.mp4");
}

TEST(ProgressLineTest, TimeLeftFollowsTheSpeedSoFar) {
    EXPECT_EQ(SecondsLeft(500, 1000, 10.0), 10);
    EXPECT_EQ(SecondsLeft(999, 1000, 10.0), 1) << "a part of a second left shows as one";
    EXPECT_EQ(SecondsLeft(1000, 1000, 10.0), 0);
    EXPECT_EQ(SecondsLeft(1500, 1000, 10.0), 0) << "beyond the expected length";
    EXPECT_EQ(SecondsLeft(0, 1000, 10.0), std::nullopt) << "no speed yet";
    EXPECT_EQ(SecondsLeft(500, 1000, 0.5), std::nullopt) << "too early to tell";
    EXPECT_EQ(SecondsLeft(500, -1, 10.0), std::nullopt) << "length unknown";
}

TEST(ProgressLineTest, ShowsWhatIsKnown) {
    EXPECT_EQ(SizeText(512), "512 B");
    EXPECT_EQ(SizeText(1536), "1.5 KiB");
    EXPECT_EQ(SizeText(5 * 1024 * 1024), "5.0 MiB");

    const TProgressInfo video{.FrameNumber = 1234,
                              .FPS = 30,
                              .CurrentDuration = 57000,
                              .CurrentSize = 1536,
                              .TotalOutputDuration = 100000};
    EXPECT_EQ(ProgressLineText(video, 57.0),
              "  57%  frame 1234  fps 30  size 1.5 KiB  time left 00:00:43");
    const TProgressInfo audio{.FrameNumber = -1,
                              .FPS = -1,
                              .CurrentDuration = 3000,
                              .CurrentSize = 100,
                              .TotalOutputDuration = -1};
    EXPECT_EQ(ProgressLineText(audio, 5.0), "time 00:00:03  size 100 B  time left --:--:--");
}

}  // namespace
