// The same choices give the same file whichever front end makes it: the window, daziziz-cli
// convert and the component driven by the job builder directly. The cases pick entries the
// encoders refuse, so the substitution and its log line are compared too.
#include <QComboBox>
#include <QPushButton>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "../app_widgets/WidgetTestSupport.h"
#include "ProfileRun.h"
#include "app/core/OutputNames.h"
#include "app/widgets/ApplicationForms.h"
#include "app/widgets/ComponentBackend.h"
#include "support/ProgramRun.h"

namespace {

struct TSameCase {
    const char* Name;
    const char* Profile;
    // The entries chosen besides the profile's defaults ("" keeps the default).
    const char* VideoCodec;
    const char* VideoSize;
    const char* AudioCodec;
    const char* SampleRate;
    // What every output holds.
    const char* VideoName;
    int Width, Height;
    const char* AudioName;
    int Rate, Channels;
    const char* LogLine;  // the substitution, in the row's log
};
void PrintTo(const TSameCase& c, std::ostream* os) {
    *os << c.Name;
}

// The entries named by the case, selected in the profile's lists.
TParameterLists ListsFor(const TSameCase& c) {
    TParameterLists lists;
    lists.ApplyProfile(*FindProfile(c.Profile));
    const auto select = [](TChoiceList& list, const char* entry) {
        if (!*entry) return;
        const auto at = std::find(list.Items.begin(), list.Items.end(), entry);
        ASSERT_NE(at, list.Items.end()) << entry;
        list.Selected = static_cast<int>(at - list.Items.begin());
    };
    select(lists.VideoCodec, c.VideoCodec);
    select(lists.VideoSize, c.VideoSize);
    select(lists.AudioCodec, c.AudioCodec);
    select(lists.SamplingRate, c.SampleRate);
    return lists;
}

struct TCliRun {
    int ExitCode = -1;
    std::string Output;  // standard output and error
};

TCliRun RunCliConvert(const TSameCase& c, const std::string& folder, const std::string& input) {
    std::vector<std::string> arguments = {"convert", "--profile", c.Profile, "--output-folder",
                                          folder};
    const std::pair<const char*, const char*> options[] = {{"--video-codec", c.VideoCodec},
                                                           {"--video-size", c.VideoSize},
                                                           {"--audio-codec", c.AudioCodec},
                                                           {"--sample-rate", c.SampleRate}};
    for (const auto& [option, entry] : options)
        if (*entry) arguments.insert(arguments.end(), {option, entry});
    arguments.push_back(input);
    const TProgramResult result = RunCli(arguments);
    return {result.ExitCode, result.Out + result.Err};
}

// The window's log: what it writes through Qt's message handler.
std::vector<std::string> windowLog;
void RecordWindowLog(QtMsgType, const QMessageLogContext&, const QString& text) {
    windowLog.push_back(text.toStdString());
}

class SameChoicesTest : public TWidgetTest, public ::testing::WithParamInterface<TSameCase> {
  protected:
    // Clicks Convert and waits for the run's end, with the window's log in windowLog.
    void ConvertAndRecordLog(QWidget& form) {
        windowLog.clear();
        const QtMessageHandler previous = qInstallMessageHandler(RecordWindowLog);
        Child<QPushButton>(&form, "ButtonConvert")->click();
        ProcessEventsUntil([&] {
            return std::any_of(messages_.begin(), messages_.end(), [](const auto& m) {
                return m.second == "All Conversions Completed";
            });
        });
        qInstallMessageHandler(previous);
    }

    void ExpectOutput(const std::string& route, const std::string& path) {
        const TSameCase& c = GetParam();
        SCOPED_TRACE(route);
        const TProbedFile judge = RunFfprobe(path);
        ASSERT_TRUE(judge.ok) << judge.error;
        const TProbedStream* video = judge.First("video");
        const TProbedStream* audio = judge.First("audio");
        ASSERT_NE(video, nullptr);
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(video->codecName, c.VideoName);
        EXPECT_EQ(video->width, c.Width);
        EXPECT_EQ(video->height, c.Height);
        EXPECT_EQ(audio->codecName, c.AudioName);
        EXPECT_EQ(audio->sampleRate, c.Rate);
        EXPECT_EQ(audio->channels, c.Channels);
    }

    TTempDir media_;
};

TEST_P(SameChoicesTest, WindowCliAndComponentWriteTheSameFile) {
    const TSameCase& c = GetParam();
    const TSourceClip clip = MakeSourceClip(media_.Path().string(), 1.0, 320, 240);
    const TOutputProfile& profile = *FindProfile(c.Profile);
    TTempDir byComponent, byCli, byWindow;

    {
        TProfileConverter converter;
        const TConversionOutcome outcome =
            converter.Convert(clip, SettingsFor(profile, ListsFor(c), byComponent.Path().string()));
        ASSERT_TRUE(outcome.Done) << outcome.Reason;
        EXPECT_NE(std::find(outcome.Notes.begin(), outcome.Notes.end(), c.LogLine),
                  outcome.Notes.end());
        ExpectOutput("component", outcome.OutputFile);
    }

    const TCliRun cli = RunCliConvert(c, byCli.Path().string(), clip.Path);
    ASSERT_EQ(cli.ExitCode, 0) << cli.Output;
    EXPECT_NE(cli.Output.find(c.LogLine), std::string::npos) << cli.Output;
    const std::string output = "clip" + OutputExtension(profile.FormatKey);
    ExpectOutput("daziziz-cli", (byCli.Path() / output).string());

    TComponentBackend backend;
    TApplicationForms forms(&backend);
    ASSERT_TRUE(forms.MainWindow->LibrariesLoaded());
    TMainWindow& form = *forms.MainWindow;
    form.show();
    const auto choose = [&](const char* combo, const char* entry) {
        if (!*entry) return;
        auto* list = Child<QComboBox>(&form, combo);
        const int index = list->findText(entry);
        ASSERT_GE(index, 0) << combo << ": " << entry;
        list->setCurrentIndex(index);
    };
    choose("ComboOutputFormat", c.Profile);
    // Profiles that leave the channels alone keep the first profile's "Mono" in the window; the
    // other routes start from the list's "Stereo".
    choose("ComboAudioChannels", kChannelsStereo);
    choose("ComboVideoCodec", c.VideoCodec);
    choose("ComboVideoSize", c.VideoSize);
    choose("ComboAudioCodec", c.AudioCodec);
    choose("ComboSamplingRate", c.SampleRate);
    form.SetOutputFolder(QString::fromStdString(byWindow.Path().string()));
    form.SetSameFolderAsInput(false);  // into that folder, not beside the input
    AddFilesAndWait(form, {QString::fromStdString(clip.Path)});
    ConvertAndRecordLog(form);
    EXPECT_NE(std::find(windowLog.begin(), windowLog.end(), c.LogLine), windowLog.end());
    ExpectOutput("window", (byWindow.Path() / output).string());
}

// A portrait phone video at a phone's 29.99 fps: the window lists it upright at its real rate,
// and the window and daziziz-cli convert write it upright at the rate the encoder takes.
TEST_F(SameChoicesTest, PhoneVideoIsListedAndWrittenUpright) {
    const std::string phone = (media_.Path() / "phone.mp4").string();
    // The rotation is a tag the muxer writes while copying.
    const std::string coded = (media_.Path() / "coded.mp4").string();
    const std::string make =
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=90000/3001 "
        "-t 1 -c:v libx264 '" +
        coded + "' && ffmpeg -v error -y -i '" + coded + "' -c copy -metadata:s:v rotate=90 '" +
        phone + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const char* const profile = "AVI - Audio Video Interleave (*.avi)";
    const std::string logLine = "mpeg4 does not take 90000/3001 fps: 30000/1001 instead";
    const auto expectUpright = [](const std::string& route, const std::string& path) {
        SCOPED_TRACE(route);
        const TProbedFile judge = RunFfprobe(path);
        ASSERT_TRUE(judge.ok) << judge.error;
        const TProbedStream* video = judge.First("video");
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->width, 240);
        EXPECT_EQ(video->height, 320);
        EXPECT_EQ(av_cmp_q(video->avgFrameRate, AVRational{30000, 1001}), 0);
    };

    TTempDir byCli, byWindow;
    const std::string cli = std::string(DZ_CLI_PROGRAM) + " convert --profile '" + profile +
                            "' --output-folder '" + byCli.Path().string() + "' -v '" + phone +
                            "' 2>&1";
    std::string output;
    if (FILE* pipe = popen(cli.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            output.append(buffer, n);
        EXPECT_EQ(pclose(pipe), 0) << output;
    }
    EXPECT_NE(output.find(logLine), std::string::npos) << output;
    expectUpright("daziziz-cli", (byCli.Path() / "phone.avi").string());

    TComponentBackend backend;
    TApplicationForms forms(&backend);
    ASSERT_TRUE(forms.MainWindow->LibrariesLoaded());
    TMainWindow& form = *forms.MainWindow;
    form.show();
    auto* formats = Child<QComboBox>(&form, "ComboOutputFormat");
    formats->setCurrentIndex(formats->findText(profile));
    form.SetOutputFolder(QString::fromStdString(byWindow.Path().string()));
    form.SetSameFolderAsInput(false);  // into that folder, not beside the input
    AddFilesAndWait(form, {QString::fromStdString(phone)});
    ASSERT_EQ(form.FileList().Count(), 1);
    EXPECT_EQ(form.FileList().Row(0).VideoSize, "240x320");
    EXPECT_EQ(form.FileList().Row(0).FrameRate, "29.99");
    ConvertAndRecordLog(form);
    EXPECT_NE(std::find(windowLog.begin(), windowLog.end(), logLine), windowLog.end())
        << ::testing::PrintToString(windowLog);
    expectUpright("window", (byWindow.Path() / "phone.avi").string());
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, SameChoicesTest,
    ::testing::Values(TSameCase{"PhoneH263AtVga", "3GP - Mobile Video Format (*.3gp)", "H263",
                                "320 x 240 (VGA)", "", "16000 Hz", "h263", 352, 288, "amr_nb", 8000,
                                1, "h263 does not take the frame size 320x240: 352x288 instead"},
                      TSameCase{"RealVideoOddSize", "RM - Real Video (*.rm)", "", "220 x 176", "",
                                "8000 Hz", "rv10", 224, 176, "ac3", 32000, 2,
                                "rv10 does not take the frame size 220x176: 224x176 instead"},
                      TSameCase{"DvdMp2At96000", "DVD - VOB (*.vob)", "", "", "mp2", "96000 Hz",
                                "mpeg2video", 720, 480, "mp2", 48000, 2,
                                "mp2 does not take 96000 Hz: 48000 Hz instead"},
                      TSameCase{"Mp4H264At54000", "MP4 - MPEG4 Video (*.mp4)", "H264", "480 x 272",
                                "", "54000 Hz", "h264", 480, 272, "aac", 48000, 2,
                                "aac does not take 54000 Hz: 48000 Hz instead"}),
    [](const auto& testInfo) { return testInfo.param.Name; });

}  // namespace
