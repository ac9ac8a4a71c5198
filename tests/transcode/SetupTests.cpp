// Opening inputs and outputs, stream creation and the set-up of a run, on generated files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "TranscodeTestSupport.h"

namespace {

namespace fs = std::filesystem;

class TranscodeSetup : public ::testing::Test {
  protected:
    void SetUp() override { RequireMediaLibraries(); }

    // Opens an input, failing the test with the engine's reason when it cannot.
    void OpenInput(const std::string& path) {
        ASSERT_TRUE(engine.OpenInputFile(path)) << engine.LastError;
    }
    void OpenOutput(const std::string& name) {
        ASSERT_TRUE(engine.OpenOutputFile(dir.File(name))) << engine.LastError;
    }
    // Runs the job and returns the message it failed with ("" when it did not fail).
    std::string RunForError() {
        engine.Start(false, tpNormal);
        EXPECT_EQ(engine.TerminateCount(), 1);
        return engine.HasError() ? engine.ErrorMessage() : std::string();
    }
    AVMediaType OutputType(int file, int stream) {
        return engine.OutputFiles[file].Context->streams[stream]->codecpar->codec_type;
    }

    TTempDir dir;
    TTranscodeEngine engine;
};

TEST_F(TranscodeSetup, OpenInputReadsGeometryRatesAndDuration) {
    OpenInput(Mp4Clip());
    EXPECT_EQ(engine.InputFileCount, 1);
    EXPECT_EQ(engine.FrameWidth, 320);
    EXPECT_EQ(engine.FrameHeight, 240);
    EXPECT_FLOAT_EQ(engine.FrameAspectRatio, 320.0f / 240.0f) << "no sample aspect: w / h";
    EXPECT_EQ(engine.FramePixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(av_cmp_q(engine.FrameRate, AVRational{25, 1}), 0);
    EXPECT_EQ(engine.AudioSampleRate, 48000);
    EXPECT_EQ(engine.AudioChannels, 2);
    EXPECT_NEAR(engine.SourceDurationMs, 2000, 60);
    ASSERT_EQ(engine.InputFiles[0].Decoders.size(), 2u) << "a decoder context per stream";
    EXPECT_EQ(engine.InputFiles[0].Decoders[0]->codec_type, AVMEDIA_TYPE_VIDEO);
    EXPECT_TRUE(engine.VideoCodecName.empty()) << "input-scoped options are consumed";
}

TEST_F(TranscodeSetup, SourceDurationIsTheLongestInput) {
    OpenInput(WavClip(60.0));
    EXPECT_EQ(engine.SourceDurationMs, 60000);
    OpenInput(WavClip(90.0));
    EXPECT_EQ(engine.SourceDurationMs, 90000);
    OpenInput(WavClip(1.0));
    EXPECT_EQ(engine.SourceDurationMs, 90000) << "a shorter input leaves it";
}

TEST_F(TranscodeSetup, InputFailuresLeaveTheReason) {
    const std::string missing = dir.File("missing.mp4");
    EXPECT_FALSE(engine.OpenInputFile(missing));
    EXPECT_EQ(engine.LastError, missing + ": no such file or directory");

    engine.SetVideoCodec("no-such-decoder");
    EXPECT_FALSE(engine.OpenInputFile(Mp4Clip()));
    EXPECT_EQ(engine.LastError, "Unknown decoder 'no-such-decoder'");
    EXPECT_TRUE(engine.VideoCodecName.empty()) << "a failed open consumes the options too";

    engine.SetVideoCodec("mp3");
    EXPECT_FALSE(engine.OpenInputFile(Mp4Clip()));
    EXPECT_EQ(engine.LastError, "Invalid decoder type 'mp3'");
    EXPECT_EQ(engine.InputFileCount, 0);
}

TEST_F(TranscodeSetup, FindCodecByName) {
    AVCodecID id = AV_CODEC_ID_MPEG4;
    EXPECT_TRUE(engine.FindCodec("", AVMEDIA_TYPE_VIDEO, true, id));
    EXPECT_EQ(id, AV_CODEC_ID_NONE);
    EXPECT_TRUE(engine.FindCodec("mpeg4", AVMEDIA_TYPE_VIDEO, true, id));
    EXPECT_EQ(id, AV_CODEC_ID_MPEG4);
    EXPECT_FALSE(engine.FindCodec("mpeg4", AVMEDIA_TYPE_AUDIO, true, id));
    EXPECT_EQ(engine.LastError, "Invalid encoder type 'mpeg4'");
    EXPECT_FALSE(engine.FindCodec("nothing", AVMEDIA_TYPE_AUDIO, false, id));
    EXPECT_EQ(engine.LastError, "Unknown decoder 'nothing'");
}

TEST_F(TranscodeSetup, ProgramIdDiscardsOtherPrograms) {
    engine.SetProgramId(2);
    OpenInput(MpegTsAudioClip());
    AVFormatContext* input = engine.InputFiles[0].Context.get();
    ASSERT_GE(input->nb_programs, 1u);
    for (unsigned i = 0; i < input->nb_programs; ++i)
        EXPECT_EQ(input->programs[i]->discard,
                  input->programs[i]->id == 2 ? AVDISCARD_DEFAULT : AVDISCARD_ALL)
            << "program " << input->programs[i]->id;
    // No stream of program 2 exists: with a program id there is no fall-back.
    engine.SetAudioCodec("copy");
    OpenOutput("out.mkv");
    EXPECT_EQ(RunForError(), "Could not find input stream matching output stream #0.0");
    EXPECT_FALSE(fs::exists(dir.File("out.mkv"))) << "no empty output is left behind";
}

TEST_F(TranscodeSetup, VideoWithoutASizeHasNoAspectRatio) {
    // Every program discarded: the probe learns nothing about the video stream, not even its
    // size, and the aspect ratio cannot be had from it.
    engine.SetProgramId(2);
    try {
        engine.OpenInputFile(MpegTsClip());
        ADD_FAILURE() << "nothing raised";
    } catch (const FFMpegException& error) {
        EXPECT_STREQ(error.what(), "Incorrect aspect ratio specification.");
    }
    EXPECT_EQ(engine.InputFileCount, 0);
    EXPECT_TRUE(engine.InputFiles[0].Decoders.empty());
}

TEST_F(TranscodeSetup, ProgramIdPicksStreamsOfThatProgram) {
    OpenInput(MpegTsClip());
    const int program = engine.InputFiles[0].Context->programs[0]->id;
    engine.Cleanup();
    engine.Reset();
    engine.SetProgramId(program);
    OpenInput(MpegTsClip());
    engine.Apply({{"vcodec", "copy"}, {"acodec", "copy"}});
    OpenOutput("out.mkv");
    engine.SetUpOnly();
    ASSERT_EQ(engine.RunState.OutputStreams.size(), 2u);
    for (const auto& ost : engine.RunState.OutputStreams) {
        const auto& ist = *engine.RunState.InputStreams[ost->SourceIndex];
        EXPECT_EQ(ist.Stream->codecpar->codec_type, ost->Stream->codecpar->codec_type);
    }
}

TEST_F(TranscodeSetup, SourceSelectionWithoutMaps) {
    // Two audio inputs, three audio outputs: the first two take the inputs in order, the third
    // takes the last input audio stream again.
    OpenInput(WavClip(1.0));
    OpenInput(WavClip(1.0, 16000));
    engine.SetAudioCodec("pcm_s16le");
    OpenOutput("out.mkv");
    engine.SetAudioCodec("pcm_s16le");
    engine.ParseOption("newaudio", "");
    engine.SetAudioCodec("pcm_s16le");
    engine.ParseOption("newaudio", "");
    ASSERT_EQ(engine.OutputFiles[0].Context->nb_streams, 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(OutputType(0, i), AVMEDIA_TYPE_AUDIO);

    engine.SetUpOnly();
    const auto& outputs = engine.RunState.OutputStreams;
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_EQ(outputs[0]->SourceIndex, 0);
    EXPECT_EQ(outputs[1]->SourceIndex, 1);
    EXPECT_EQ(outputs[2]->SourceIndex, 1);
    for (const auto& ost : outputs) {
        EXPECT_EQ(ost->SyncStream, engine.RunState.InputStreams[ost->SourceIndex].get());
        EXPECT_TRUE(ost->EncodingNeeded);
        EXPECT_NE(ost->Sound, nullptr);
        EXPECT_TRUE(engine.OpenEncoders.Contains(ost->Encoder));
    }
    EXPECT_EQ(engine.OpenEncoders.Count(), 3u);
    EXPECT_EQ(engine.OpenDecoders.Count(), 2u);
    EXPECT_TRUE(outputs[0]->Sound->Resamples()) << "16 kHz into 8 kHz";
    EXPECT_TRUE(engine.Logged("Stream mapping:"));
    EXPECT_TRUE(engine.Logged("  Stream #1.0 -> #0.2"));
    // The headers are written: a Matroska file starts with its EBML signature.
    engine.Cleanup();
    EXPECT_EQ(FileHead(dir.File("out.mkv"), 4), "\x1A\x45\xDF\xA3");
}

TEST_F(TranscodeSetup, MapsChooseSourcesAndSyncStreams) {
    OpenInput(Mp4Clip());
    OpenInput(WavClip(1.0));
    engine.Apply({{"map", "0:0"}, {"map", "1:0:0.1"}, {"vcodec", "copy"}, {"acodec", "copy"}});
    OpenOutput("out.mkv");
    engine.SetUpOnly();
    const auto& outputs = engine.RunState.OutputStreams;
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[0]->SourceIndex, 0);
    EXPECT_EQ(outputs[1]->SourceIndex, 2);
    EXPECT_EQ(outputs[1]->SyncStream, engine.RunState.InputStreams[1].get());
    EXPECT_TRUE(engine.Logged(" [sync #0.1]"));
    EXPECT_EQ(engine.RunState.InputStreams[1]->Discard, 1) << "no output takes #0.1";
    EXPECT_EQ(engine.OpenEncoders.Count(), 0u) << "stream copy opens no codec";
}

struct TSetupFailure {
    const char* name;
    std::vector<std::pair<std::string, std::string>> beforeOutput;
    std::vector<std::pair<std::string, std::string>> afterOutput;
    const char* message;
};

std::ostream& operator<<(std::ostream& out, const TSetupFailure& failure) {
    return out << failure.name;
}

class TranscodeSetupFailure : public TranscodeSetup,
                              public ::testing::WithParamInterface<TSetupFailure> {};

// Every failure ends the run with its message, frees what the set-up made and leaves no empty
// output file behind.
TEST_P(TranscodeSetupFailure, EndsTheRunWithItsMessage) {
    const TSetupFailure& failure = GetParam();
    OpenInput(Mp4Clip());
    engine.Apply(failure.beforeOutput);
    OpenOutput("out.mkv");
    engine.Apply(failure.afterOutput);
    EXPECT_EQ(RunForError(), failure.message);
    EXPECT_FALSE(engine.IsCompleted());
    EXPECT_TRUE(engine.RunState.OutputStreams.empty());
    EXPECT_TRUE(engine.OpenEncoders.Empty());
    EXPECT_TRUE(engine.OpenDecoders.Empty());
    EXPECT_FALSE(fs::exists(dir.File("out.mkv")));
}

const TSetupFailure kSetupFailures[] = {
    {"MapCount", {{"map", "0:0"}}, {}, "Number of stream maps must match number of output streams"},
    {"MapStream", {{"map", "0:0"}, {"map", "0:5"}}, {}, "Could not find input stream #0.5"},
    {"MapFile", {{"map", "3:0"}, {"map", "0:1"}}, {}, "Could not find input stream #3.0"},
    {"SyncStream", {{"map", "0:0:0.7"}, {"map", "0:1"}}, {}, "Could not find sync stream #0.7"},
    {"Mismatch",
     {{"map", "0:1"}, {"map", "0:0"}},
     {},
     "Codec type mismatch for mapping #0.1 -> #0.0"},
    {"CopyWithVolume",
     {{"vcodec", "copy"}, {"acodec", "copy"}, {"vol", "512"}},
     {},
     "-acodec copy and -vol are incompatible (frames are not decoded)"},
    {"MissingStream",
     {{"vcodec", "copy"}, {"acodec", "copy"}},
     {{"scodec", "copy"}, {"newsubtitle", ""}},
     "Could not find input stream matching output stream #0.2"},
    {"NoStream", {{"vn", ""}, {"an", ""}}, {}, "Output file does not contain any stream"},
    {"MetaDataOutput",
     {{"vcodec", "copy"}, {"acodec", "copy"}, {"map_meta_data", "1:0"}},
     {},
     "Invalid output file index 1 map_meta_data(1,0)"},
    {"MetaDataInput",
     {{"vcodec", "copy"}, {"acodec", "copy"}, {"map_meta_data", "0:4"}},
     {},
     "Invalid input file index 4 map_meta_data(0,4)"},
    {"UnsupportedEncoder",
     {{"vcodec", "copy"}, {"acodec", "mp2"}, {"ar", "7"}},
     {},
     "Error while opening codec for output stream #0.1 - maybe incorrect parameters such as "
     "bit_rate, rate, width or height"},
};

INSTANTIATE_TEST_SUITE_P(Cases, TranscodeSetupFailure, ::testing::ValuesIn(kSetupFailures),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Found by fuzzing: an input whose pictures' format the demuxer could not find out made the
// scaler's set-up abort the whole program.
TEST_F(TranscodeSetup, UnknownPictureFormatEndsTheRunNotTheProgram) {
    OpenInput(Mp4Clip());
    engine.InputFiles[0].Decoders[0]->pix_fmt = AV_PIX_FMT_NONE;
    engine.Apply({{"s", "64x48"}});
    OpenOutput("out.mkv");
    EXPECT_EQ(RunForError(),
              "Cannot get resampling context: input stream #0.0 has no picture format that can "
              "be converted");
    EXPECT_FALSE(fs::exists(dir.File("out.mkv")));
}

TEST_F(TranscodeSetup, VideoCopyRefusesACustomHook) {
    OpenInput(Mp4Clip());
    engine.Apply({{"vcodec", "copy"}, {"acodec", "copy"}});
    OpenOutput("out.mkv");
    engine.OnCustomHook = [](TCustomFFmpeg*, THookBitmap&, int32_t, int64_t, bool&, bool&) {};
    EXPECT_EQ(RunForError(),
              "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
}

TEST_F(TranscodeSetup, UnknownOutputFormat) {
    OpenInput(Mp4Clip());
    const std::string name = dir.File("out.no-such-extension");
    EXPECT_FALSE(engine.OpenOutputFile(name));
    EXPECT_EQ(engine.LastError, "Unable to find a suitable output format for '" + name + "'");
    EXPECT_EQ(engine.OutputFileCount, 0);
    EXPECT_FALSE(fs::exists(name));
}

TEST_F(TranscodeSetup, OutputThatCannotBeCreated) {
    OpenInput(Mp4Clip());
    engine.Apply({{"vcodec", "copy"}, {"acodec", "copy"}});
    const std::string name = dir.File("no-folder/out.mkv");
    EXPECT_FALSE(engine.OpenOutputFile(name));
    EXPECT_EQ(engine.LastError, "Could not open '" + name + "': No such file or directory");
    EXPECT_EQ(engine.OutputFileCount, 0);
    EXPECT_EQ(engine.OutputFiles[0].Streams[0].Codec, nullptr) << "the streams' contexts are freed";
}

TEST_F(TranscodeSetup, StreamsFollowInputsAndDisabledFlags) {
    OpenInput(Mp4Clip());
    engine.ParseOption("an", "");
    OpenOutput("video.mp4");
    ASSERT_EQ(engine.OutputFiles[0].Context->nb_streams, 1u) << "audio disabled: no audio stream";
    EXPECT_EQ(OutputType(0, 0), AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(engine.AudioDisabled, 1) << "no audio stream consumed the flag";

    engine.AudioDisabled = 0;
    OpenOutput("both.mp4");
    ASSERT_EQ(engine.OutputFiles[1].Context->nb_streams, 2u);
    EXPECT_EQ(OutputType(1, 1), AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(engine.OutputFiles[1].Streams[1].Codec->codec_id, AV_CODEC_ID_AAC)
        << "the format's default";

    engine.Cleanup();
    engine.Reset();
    OpenInput(WavClip(1.0));
    OpenOutput("audio.mp4");
    ASSERT_EQ(engine.OutputFiles[0].Context->nb_streams, 1u) << "an input without video: no video";
}

TEST_F(TranscodeSetup, WithoutInputTheFormatDecides) {
    OpenOutput("alone.avi");
    ASSERT_EQ(engine.OutputFiles[0].Context->nb_streams, 2u);
    EXPECT_EQ(engine.OutputFiles[0].Streams[0].Codec->codec_id, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(engine.OutputFiles[0].Streams[0].Codec->width, 0) << "no frame size yet";
    EXPECT_EQ(av_cmp_q(engine.OutputFiles[0].Streams[0].Codec->time_base, AVRational{1, 25}), 0);
}

TEST_F(TranscodeSetup, NewStreamKeywordsNeedAnOutput) {
    for (const char* keyword : {"newvideo", "newaudio", "newsubtitle"}) {
        try {
            engine.ParseOption(keyword, "");
            ADD_FAILURE() << keyword << " raised nothing";
        } catch (const FFMpegException& error) {
            EXPECT_STREQ(error.what(), "At least one output file must be specified");
        }
    }
}

TEST_F(TranscodeSetup, StreamCreationFailuresBecomeTheReason) {
    OpenInput(Mp4Clip());
    engine.SetVideoCodec("no-such-encoder");
    EXPECT_FALSE(engine.OpenOutputFile(dir.File("out.mkv")));
    EXPECT_EQ(engine.LastError, "new_video_stream fail: Unknown encoder 'no-such-encoder'");
    engine.SetAudioCodec("mpeg4");
    EXPECT_FALSE(engine.OpenOutputFile(dir.File("out.mkv")));
    EXPECT_EQ(engine.LastError, "new_audio_stream fail: Invalid encoder type 'mpeg4'");
    engine.Apply({{"rc_override", "0,100"}});
    EXPECT_FALSE(engine.OpenOutputFile(dir.File("out.mkv")));
    EXPECT_EQ(engine.LastError, "new_video_stream fail: error parsing rc_override");
    EXPECT_EQ(engine.OutputFileCount, 0);
    EXPECT_FALSE(fs::exists(dir.File("out.mkv")));
}

TEST_F(TranscodeSetup, RateControlOverrideEntries) {
    OpenInput(Mp4Clip());
    engine.Apply({{"rc_override", "0,100,2/101,200,-50"}, {"vcodec", "mpeg4"}});
    OpenOutput("out.mkv");
    const AVCodecContext* codec = engine.OutputFiles[0].Streams[0].Codec.get();
    ASSERT_EQ(codec->rc_override_count, 2);
    EXPECT_EQ(codec->rc_override[0].start_frame, 0);
    EXPECT_EQ(codec->rc_override[0].end_frame, 100);
    EXPECT_EQ(codec->rc_override[0].qscale, 2);
    EXPECT_FLOAT_EQ(codec->rc_override[0].quality_factor, 1.0f);
    EXPECT_EQ(codec->rc_override[1].start_frame, 101);
    EXPECT_EQ(codec->rc_override[1].end_frame, 200);
    EXPECT_EQ(codec->rc_override[1].qscale, 0);
    EXPECT_FLOAT_EQ(codec->rc_override[1].quality_factor, 0.5f);
}

struct TRateCase {
    AVRational requested;
    AVRational chosen;
};

class EncoderFrameRates : public TranscodeSetup, public ::testing::WithParamInterface<TRateCase> {};

// mpeg1video lists 24000/1001, 24, 25, 30000/1001, 30, 50, 60000/1001 and 60 (and more).
TEST_P(EncoderFrameRates, TakeTheNearestListedRate) {
    const TRateCase& c = GetParam();
    engine.FrameRate = c.requested;
    engine.Apply({{"vcodec", "mpeg1video"}, {"an", ""}, {"s", "320x240"}});
    OpenOutput("out.mpg");
    const AVRational timeBase = engine.OutputFiles[0].Streams[0].Codec->time_base;
    EXPECT_EQ(av_cmp_q(timeBase, av_inv_q(c.chosen)), 0)
        << "got 1/" << timeBase.den << "*" << timeBase.num;
}

INSTANTIATE_TEST_SUITE_P(Rates, EncoderFrameRates,
                         ::testing::Values(TRateCase{{24, 1}, {24, 1}},
                                           TRateCase{{47, 2}, {24000, 1001}},
                                           TRateCase{{29, 1}, {30000, 1001}},
                                           TRateCase{{25, 1}, {25, 1}},
                                           TRateCase{{0, 0}, {25, 1}}));

TEST_F(TranscodeSetup, MetaDataReachesTheOutput) {
    OpenInput(Mp4Clip());
    engine.Apply(
        {{"title", "A title"}, {"author", "Somebody"}, {"vcodec", "copy"}, {"acodec", "copy"}});
    engine.SetYear(2008);
    engine.SetTrack(3);
    OpenOutput("out.mkv");
    AVDictionary* metadata = engine.OutputFiles[0].Context->metadata;
    auto value = [&](const char* key) {
        AVDictionaryEntry* entry = LibAVUtil.av_dict_get(metadata, key, nullptr, 0);
        return entry ? std::string(entry->value) : std::string("(none)");
    };
    EXPECT_EQ(value("title"), "A title");
    EXPECT_EQ(value("author"), "Somebody");
    EXPECT_EQ(value("artist"), "Somebody");
    EXPECT_EQ(value("date"), "2008");
    EXPECT_EQ(value("track"), "3");
    EXPECT_EQ(value("comment"), "(none)") << "empty texts are not written";
}

TEST_F(TranscodeSetup, ScalerOnlyWhenGeometryOrFormatDiffers) {
    OpenInput(Mp4Clip());
    engine.Apply({{"vcodec", "mpeg4"}, {"an", ""}});
    OpenOutput("same.mkv");
    engine.Apply({{"vcodec", "mpeg4"}, {"an", ""}, {"s", "160x120"}});
    OpenOutput("smaller.mkv");
    engine.Apply({{"vcodec", "huffyuv"}, {"an", ""}, {"s", "320x240"}, {"pix_fmt", "yuv422p"}});
    OpenOutput("other-format.mkv");
    engine.SetUpOnly();
    const auto& outputs = engine.RunState.OutputStreams;
    ASSERT_EQ(outputs.size(), 3u);
    // Every re-encoded output has its picture graph; only those whose size or format differs
    // scale in it.
    EXPECT_FALSE(outputs[0]->PictureShape.Scales());
    ASSERT_NE(outputs[0]->PictureGraph, nullptr);
    EXPECT_EQ(outputs[0]->PictureGraph->Text().find("scale"), std::string::npos);
    for (int i : {1, 2}) {
        EXPECT_TRUE(outputs[i]->PictureShape.Scales()) << "output " << i;
        ASSERT_NE(outputs[i]->PictureGraph, nullptr) << "output " << i;
        EXPECT_NE(outputs[i]->PictureGraph->Text().find("scale"), std::string::npos);
        EXPECT_EQ(outputs[i]->PictureShape.SourceHeight, 240);
    }
    EXPECT_EQ(outputs[1]->PictureGraph->Width(), 160);
    EXPECT_EQ(outputs[2]->PictureGraph->Format(), AV_PIX_FMT_YUV422P);
    EXPECT_GE(engine.EncoderOutputBufferSize, 4 * 320 * 240);
}

TEST_F(TranscodeSetup, CropAndPadOfTheSameSizeNeedNoScaler) {
    OpenInput(Mp4Clip());
    // 240 - 16 cropped + 16 padded: the same height, so no scaler in the graph.
    engine.Apply({{"vcodec", "mpeg4"},
                  {"an", ""},
                  {"croptop", "8"},
                  {"cropbottom", "8"},
                  {"padtop", "8"},
                  {"padbottom", "8"}});
    OpenOutput("cropped.mkv");
    engine.SetUpOnly();
    const TOutputStreamState& ost = *engine.RunState.OutputStreams[0];
    EXPECT_EQ(ost.Encoder->height, 240);
    const TOutputPictureShape& shape = ost.PictureShape;
    EXPECT_TRUE(shape.Crops());
    EXPECT_EQ(shape.CropTop, 8);
    EXPECT_EQ(shape.CropLeft, 0);
    EXPECT_TRUE(shape.Pads());
    EXPECT_EQ(shape.PadBottom, 8);
    EXPECT_FALSE(shape.Scales());
    ASSERT_NE(ost.PictureGraph, nullptr);
    // The padding's bands grow by a scaler of their own (flags by name); the picture has none.
    EXPECT_FALSE(std::regex_search(ost.PictureGraph->Text(), std::regex("flags=[0-9]")))
        << ost.PictureGraph->Text();
    EXPECT_EQ(ost.PictureGraph->Height(), 240);
}

// Changes the current folder for the lifetime of the guard.
class TCurrentFolder {
  public:
    explicit TCurrentFolder(const fs::path& folder) : previous_(fs::current_path()) {
        fs::current_path(folder);
    }
    ~TCurrentFolder() { fs::current_path(previous_); }

  private:
    fs::path previous_;
};

TEST_F(TranscodeSetup, FirstPassStatisticsFileNames) {
    {
        TCurrentFolder folder(dir.Path());
        OpenInput(Mp4Clip());
        engine.Apply({{"an", ""}, {"vcodec", "mpeg4"}, {"pass", "1"}});
        OpenOutput("pass1.mkv");
        engine.SetUpOnly();
        EXPECT_NE(engine.RunState.OutputStreams[0]->LogFile, nullptr);
        EXPECT_TRUE(fs::exists(dir.File("ffmpeg2pass-0.log")));
    }
    engine.Cleanup();
    engine.Reset();
    OpenInput(Mp4Clip());
    engine.Apply({{"vcodec", "mpeg4"},
                  {"acodec", "copy"},
                  {"pass", "2"},
                  {"passlogfile", dir.File("stats")}});
    OpenOutput("pass2.mkv");
    const std::string statistics = dir.File("stats-0.log");
    EXPECT_EQ(RunForError(), "creat open fail: " + statistics);
}

// Encoders that keep their statistics their own way get them into the pass's file too: libx264
// writes the file it is given (not x264_2pass.log in the working folder), VP9 hands them over
// only once drained.
class FirstPassOfEncoder : public TranscodeSetup,
                           public ::testing::WithParamInterface<const char*> {};

TEST_P(FirstPassOfEncoder, FillsThePassFile) {
    TCurrentFolder folder(dir.Path());
    OpenInput(Mp4Clip());
    engine.Apply({{"an", ""},
                  {"vcodec", GetParam()},
                  {"b", "300000"},
                  {"pass", "1"},
                  {"passlogfile", dir.File("stats")},
                  {"f", "null"}});
    OpenOutput("nothing");
    ASSERT_TRUE(engine.RunToEnd());
    std::error_code error;
    EXPECT_GT(fs::file_size(dir.File("stats-0.log"), error), 100u) << error.message();
    EXPECT_FALSE(fs::exists(dir.File("x264_2pass.log")));
}

INSTANTIATE_TEST_SUITE_P(Encoders, FirstPassOfEncoder,
                         ::testing::Values("libx264", "libvpx-vp9", "mpeg4"),
                         [](const auto& testInfo) {
                             std::string name = testInfo.param;
                             std::erase(name, '-');
                             return name;
                         });

TEST_F(TranscodeSetup, SecondPassReadsTheStatistics) {
    std::ofstream(dir.File("stats-0.log")) << "some statistics";
    OpenInput(Mp4Clip());
    engine.Apply({{"vcodec", "mpeg4"},
                  {"acodec", "copy"},
                  {"pass", "2"},
                  {"passlogfile", dir.File("stats")}});
    OpenOutput("pass2.mkv");
    // Whether or not the encoder makes use of them, they are read into it before it opens.
    try {
        engine.SetUpOnly();
    } catch (const FFMpegException&) {
    }
    ASSERT_NE(engine.OutputFiles[0].Streams[0].Codec->stats_in, nullptr);
    EXPECT_STREQ(engine.OutputFiles[0].Streams[0].Codec->stats_in, "some statistics");
}

}  // namespace
