// Every profile of the catalogue at its defaults converts a 2-second 640x480 stereo clip into
// the file its format key promises, with the codecs, frame size and rate, sample rate and
// channels chosen, the length of the source, and sound and picture together.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "ProfileRun.h"
#include "app/core/ParameterReaders.h"
#include "app/core/TodaysEncoding.h"
#include "support/TempDir.h"

namespace {

// What ffprobe calls the codec of each codec-list entry the profiles preselect.
const std::map<std::string, std::string> kProbedCodec = {
    {"MPEG4", "mpeg4"},
    {"H264", "h264"},
    {"H263", "h263"},
    {"XVID", "mpeg4"},
    {"MSMPEG4", "msmpeg4v3"},
    {"RAWVIDEO", "rawvideo"},
    {"MPEG1VIDEO", "mpeg1video"},
    {"MPEG2VIDEO", "mpeg2video"},
    {"FLV", "flv1"},
    {"WMV2", "wmv2"},
    {"RV10", "rv10"},
    {"amr_nb", "amr_nb"},
    {"mpeg4aac", "aac"},
    {"aac", "aac"},
    {"mp3", "mp3"},
    {"mp2", "mp2"},
    {"ac3", "ac3"},
    {"pcm_s16le", "pcm_s16le"},
    {"pcm_s16be", "pcm_s16be"},
    {"wmav2", "wmav2"},
    {"vorbis", "vorbis"},
    {"H265", "hevc"},
    {"VP9", "vp9"},
    {"AV1", "av1"},
    {"opus", "opus"},
    {"flac", "flac"},
    {"alac", "alac"},
};

// The container a format key promises: ffprobe's format name, and the major brand for the
// formats of the ISO family, which share one name.
struct TContainer {
    const char* FormatName;
    const char* BrandStart;
};
const std::map<std::string, TContainer> kContainers = {
    {"3GP", {"mov,mp4,m4a,3gp,3g2,mj2", "3gp"}},
    {"3G2", {"mov,mp4,m4a,3gp,3g2,mj2", "3g2"}},
    {"MP4", {"mov,mp4,m4a,3gp,3g2,mj2", "isom"}},
    {"MOV", {"mov,mp4,m4a,3gp,3g2,mj2", "qt"}},
    {"M4A", {"mov,mp4,m4a,3gp,3g2,mj2", "M4A"}},
    {"ASF", {"asf", ""}},
    {"WMV", {"asf", ""}},
    {"WMA", {"asf", ""}},
    {"AVI", {"avi", ""}},
    {"VOB", {"mpeg", ""}},
    {"MPG", {"mpeg", ""}},
    {"FLV", {"flv", ""}},
    {"SWF", {"swf", ""}},
    {"RM", {"rm", ""}},
    {"RA", {"rm", ""}},
    {"AAC", {"aac", ""}},
    {"AU", {"au", ""}},
    {"MP2", {"mp3", ""}},
    {"MP3", {"mp3", ""}},
    {"OGG", {"ogg", ""}},
    {"WAV", {"wav", ""}},
    {"MKV", {"matroska,webm", ""}},
    {"WEBM", {"matroska,webm", ""}},
    {"OPUS", {"ogg", ""}},
    {"FLAC", {"flac", ""}},
};

// What today's profiles promise beyond codec and size: the tag Apple's players need for
// H.265, the codec profile players expect, and the index first in MP4 and M4A.
struct TTodaysPromise {
    const char* VideoTag;      // "" when any
    const char* VideoProfile;  // "" when any
};
const std::map<std::string, TTodaysPromise> kTodaysPromises = {
    {"H264", {"", "High"}},
    {"H265", {"", "Main"}},
    {"VP9", {"", "Profile 0"}},
    {"AV1", {"", "Main"}},
};

// The frames per second an entry asks for; 0 for "Auto" (the source's).
double RateOf(const std::string& entry) {
    if (entry == "Auto") return 0;
    const double rate = std::stod(entry);
    // The NTSC rates are written rounded.
    return std::fabs(rate - std::round(rate)) > 0.01 ? std::round(rate) * 1000 / 1001 : rate;
}

double RateOf(AVRational rate) {
    return rate.den ? double(rate.num) / rate.den : 0;
}

class EveryProfileTest : public TProfileSuite<2000, 640, 480> {};

TEST_P(EveryProfileTest, DefaultsConvertIntoWhatTheProfileSays) {
    const TOutputProfile& profile = *OutputFormatLines()[GetParam()].Profile;
    TParameterLists lists;
    lists.ApplyProfile(profile);
    TTempDir out;
    const TConversionOutcome outcome =
        converter->Convert(clip, SettingsFor(profile, lists, out.Path().string()));
    ASSERT_TRUE(outcome.Done) << outcome.Reason;
    // An HD size kept from enlarging the clip says so (its size is checked below); nothing
    // else is substituted.
    std::vector<std::string> notes = outcome.Notes;
    std::erase_if(notes, [](const std::string& note) {
        return note.find(") keeps its size: ") != std::string::npos;
    });
    EXPECT_TRUE(notes.empty()) << "the defaults need no substitution: " << notes.front();

    const TProbedFile judge = RunFfprobe(outcome.OutputFile);
    ASSERT_TRUE(judge.ok) << judge.error;
    const TContainer& container = kContainers.at(profile.FormatKey);
    EXPECT_EQ(judge.formatName, container.FormatName);
    EXPECT_EQ(MajorBrand(outcome.OutputFile).rfind(container.BrandStart, 0), 0u)
        << MajorBrand(outcome.OutputFile);
    const auto spans = StreamSpans(outcome.OutputFile);
    ASSERT_EQ(spans.count("audio"), 1u);
    // Formats without a duration of their own ("SWF") are measured by their packets.
    double duration = judge.duration;
    if (duration < 0) {
        double start = clip.Seconds, end = 0;
        for (const auto& [type, span] : spans) {
            start = std::min(start, span.Start);
            end = std::max(end, span.End);
        }
        duration = end - start;
    }
    EXPECT_NEAR(duration, clip.Seconds, 0.2);

    const TProbedStream* audio = judge.First("audio");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->codecName, kProbedCodec.at(lists.AudioCodec.SelectedText()));
    EXPECT_EQ(audio->sampleRate, std::stoi(lists.SamplingRate.SelectedText()));
    // Phones' 3GP and 3G2 are mono; every other profile keeps the source's stereo.
    const bool phone = profile.FormatKey == "3GP" || profile.FormatKey == "3G2";
    EXPECT_EQ(audio->channels, phone ? 1 : 2);

    if (profile.Reader == TParameterReader::prToday &&
        (profile.FormatKey == "MP4" || profile.FormatKey == "M4A")) {
        EXPECT_TRUE(IndexBeforeMedia(outcome.OutputFile))
            << "fast start: " << ::testing::PrintToString(TopLevelBoxes(outcome.OutputFile));
    }

    const TProbedStream* video = judge.First("video");
    if (profile.VideoCodecs.Items.empty()) {
        EXPECT_EQ(video, nullptr) << "an audio format writes no video";
        return;
    }
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->codecName, kProbedCodec.at(lists.VideoCodec.SelectedText()));
    int width = clip.Width, height = clip.Height;
    if (const auto rows = HeightOfEntry(lists.VideoSize.SelectedText())) {
        std::sscanf(
            SizeForHeight(std::to_string(clip.Width) + "x" + std::to_string(clip.Height), *rows)
                .c_str(),
            "%dx%d", &width, &height);
    } else {
        int w = 0, h = 0;
        std::sscanf(lists.VideoSize.SelectedText().c_str(), "%d x %d", &w, &h);
        // HD sizes (720 lines or more) never enlarge: a clip inside them keeps its size.
        if (w > 0 && h > 0 && !(h >= 720 && clip.Width <= w && clip.Height <= h)) {
            width = w;
            height = h;
        }
    }
    EXPECT_EQ(video->width, width);
    EXPECT_EQ(video->height, height);
    double rate = RateOf(lists.VideoFramerate.SelectedText());
    if (rate == 0) rate = 25;
    EXPECT_NEAR(RateOf(video->avgFrameRate), rate, 0.01);
    if (profile.Reader == TParameterReader::prToday) {
        const TTodaysPromise& promise = kTodaysPromises.at(lists.VideoCodec.SelectedText());
        EXPECT_EQ(video->profile, promise.VideoProfile);
        if (video->codecName == "hevc" && profile.FormatKey == "MP4") {
            EXPECT_EQ(video->codecTag, "hvc1") << "Apple's players open only hvc1";
        }
        EXPECT_GT(judge.bitRate, 0);
    }

    // Sound and picture start and end together. Each stream starts and ends on a boundary of
    // its own frames (the audio encoders' are up to 2048 samples), so the two may be apart by
    // one frame of each.
    ASSERT_EQ(spans.count("video"), 1u);
    const TStreamSpan& sound = spans.at("audio");
    const TStreamSpan& picture = spans.at("video");
    const double oneFrame = 1 / rate + sound.LongestPacket;
    EXPECT_NEAR(sound.Start, picture.Start, oneFrame);
    EXPECT_NEAR(sound.End, picture.End, oneFrame);
}

// The quality steps reach the encoder: for each of today's encoders, "Very high" writes a
// clearly larger file than "Small" from the same picture and sound.
class TodaysQualityTest : public TProfileSuite<2000, 640, 480> {};

TEST_P(TodaysQualityTest, VeryHighIsLargerThanSmall) {
    const TOutputProfile& profile = *OutputFormatLines()[GetParam()].Profile;
    std::map<std::string, std::int64_t> sizes;
    for (const std::string step : {"Very high", "Small"}) {
        TParameterLists lists;
        lists.ApplyProfile(profile);
        lists.Quality.Selected = static_cast<int>(
            std::find(lists.Quality.Items.begin(), lists.Quality.Items.end(), step) -
            lists.Quality.Items.begin());
        TTempDir out;
        const TConversionOutcome outcome =
            converter->Convert(clip, SettingsFor(profile, lists, out.Path().string()));
        ASSERT_TRUE(outcome.Done) << step << ": " << outcome.Reason;
        const TProbedFile judge = RunFfprobe(outcome.OutputFile);
        ASSERT_TRUE(judge.ok) << judge.error;
        // The picture's own bytes where the container counts them: a fixed-rate sound track
        // would hide the difference.
        const TProbedStream* video = judge.First("video");
        sizes[step] = video && video->bitRate > 0 ? video->bitRate : judge.size;
    }
    EXPECT_GT(sizes["Very high"], sizes["Small"] * 13 / 10)
        << sizes["Very high"] << " against " << sizes["Small"];
}

// One profile per encoder that takes quality steps: x264, x265, VP9 with Opus, SVT-AV1, LAME.
INSTANTIATE_TEST_SUITE_P(Today, TodaysQualityTest, ::testing::Values(65, 66, 68, 69, 72, 75),
                         [](const auto& testInfo) {
                             return "Line" + std::to_string(testInfo.param);
                         });

// Every profile with sound (the animated pictures have their own suite).
std::vector<int> ProfileLinesWithSound() {
    std::vector<int> lines = ProfileLines();
    std::erase_if(lines, [](int line) {
        return IsAnimatedPictureKey(OutputFormatLines()[line].Profile->FormatKey);
    });
    return lines;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, EveryProfileTest, ::testing::ValuesIn(ProfileLinesWithSound()),
                         [](const auto& testInfo) {
                             return "Line" + std::to_string(testInfo.param);
                         });

}  // namespace
