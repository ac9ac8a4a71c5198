// The long sweep (label "sweep", left out of the ordinary test run): for every profile, each
// entry of its video codec, size, audio codec, sample-rate and audio bit-rate lists, the others
// at their defaults (and each quality step of today's profiles). Every combination converts
// into a readable file with the streams the profile writes; the only failures allowed are the
// expected refusals listed below, which must fail with a reason. The failures and the
// substitutions the builder made are printed as a table ("| profile | list | entry | ... |").
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ProfileRun.h"
#include "support/TempDir.h"

namespace {

struct TSweepList {
    const char* Name;
    TChoiceList TParameterLists::*List;
};
constexpr TSweepList kSweptLists[] = {
    {"video codec", &TParameterLists::VideoCodec},
    {"size", &TParameterLists::VideoSize},
    {"audio codec", &TParameterLists::AudioCodec},
    {"sample rate", &TParameterLists::SamplingRate},
    {"audio bit rate", &TParameterLists::AudioBitrate},
    {"quality", &TParameterLists::Quality},
};

// The combinations the libraries truly cannot write, as "profile | what" (what as printed in
// the table). Every other combination must convert.
const std::set<std::string> kExpectedRefusals = {};

class ProfileSweepTest : public TProfileSuite<1000, 320, 240> {};

TEST_P(ProfileSweepTest, EveryEntryConvertsOrSaysWhyNot) {
    const TOutputProfile& profile = *OutputFormatLines()[GetParam()].Profile;
    TParameterLists defaults;
    defaults.ApplyProfile(profile);
    const bool writesVideo = !profile.VideoCodecs.Items.empty();

    // The defaults once, then each other entry of each list.
    std::vector<std::pair<std::string, TParameterLists>> combinations = {{"defaults", defaults}};
    for (const TSweepList& swept : kSweptLists) {
        const TChoiceList& list = defaults.*swept.List;
        for (int i = 0; i < static_cast<int>(list.Items.size()); ++i) {
            if (i == list.Selected) continue;
            TParameterLists lists = defaults;
            (lists.*swept.List).Selected = i;
            combinations.emplace_back(std::string(swept.Name) + " \"" + list.Items[i] + "\"",
                                      lists);
        }
    }

    int done = 0;
    for (const auto& [what, lists] : combinations) {
        TTempDir out;
        const TConversionOutcome outcome =
            converter->Convert(clip, SettingsFor(profile, lists, out.Path().string()));
        for (const std::string& note : outcome.Notes) {
            if (note.rfind(clip.Path, 0) == 0) continue;  // the reason of a failure, below
            std::printf("| %s | %s | note | %s |\n", profile.DisplayName.c_str(), what.c_str(),
                        note.c_str());
        }
        const bool refusalExpected = kExpectedRefusals.count(profile.DisplayName + " | " + what);
        if (!outcome.Done) {
            std::printf("| %s | %s | FAIL | %s |\n", profile.DisplayName.c_str(), what.c_str(),
                        outcome.Reason.c_str());
            EXPECT_TRUE(refusalExpected) << what << " does not convert: " << outcome.Reason;
            EXPECT_FALSE(outcome.Reason.empty()) << what << ": a failure says why";
            continue;
        }
        EXPECT_FALSE(refusalExpected) << what << " converts now: take it off the refusals";
        ++done;
        const TProbedFile judge = RunFfprobe(outcome.OutputFile);
        ASSERT_TRUE(judge.ok) << what << ": " << judge.error;
        EXPECT_NE(judge.First("audio"), nullptr) << what;
        EXPECT_EQ(judge.First("video") != nullptr, writesVideo) << what;
        if (profile.Reader != TParameterReader::prToday) continue;
        // Today's profiles: the whole length, H.265 tagged for Apple's players, MP4 and M4A
        // with the index first.
        EXPECT_NEAR(judge.duration, clip.Seconds, 0.2) << what;
        const TProbedStream* video = judge.First("video");
        if (video && video->codecName == "hevc" && profile.FormatKey == "MP4") {
            EXPECT_EQ(video->codecTag, "hvc1") << what;
        }
        if (profile.FormatKey == "MP4" || profile.FormatKey == "M4A") {
            EXPECT_TRUE(IndexBeforeMedia(outcome.OutputFile)) << what;
        }
    }
    std::printf("| %s | %d of %zu combinations convert |\n", profile.DisplayName.c_str(), done,
                combinations.size());
}

INSTANTIATE_TEST_SUITE_P(Catalogue, ProfileSweepTest, ::testing::ValuesIn(ProfileLines()),
                         [](const auto& testInfo) {
                             return "Line" + std::to_string(testInfo.param);
                         });

}  // namespace
