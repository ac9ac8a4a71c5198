// Copy when it fits: which source streams today's profiles copy, that a copied stream keeps
// every packet as it was, and what the copy saves against encoding again (printed, not asserted:
// timings belong to the benchmarks).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "ProfileRun.h"
#include "app/core/StreamCopy.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"
#include "support/TrackedMedia.h"

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavformat/avformat.h>
}

namespace {

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The MD5 of one stream's packets as the libraries' own program reads them ("v" or "a").
std::string PacketMd5(const std::string& path, const char* stream) {
    const std::string command = "ffmpeg -v error -i " + ShellQuoted(path) + " -map 0:" + stream +
                                " -c copy -f md5 - 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return {};
    char line[256] = {};
    if (!std::fgets(line, sizeof line, pipe.get())) return {};
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

bool Noted(const TConversionOutcome& outcome, const std::string& start) {
    return std::any_of(outcome.Notes.begin(), outcome.Notes.end(),
                       [&](const std::string& note) { return note.rfind(start, 0) == 0; });
}

// An H.264 + AAC MP4, 640x480 at 25 fps, stereo 48 kHz: what a phone or a camera hands over.
class StreamCopyTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        RequireMediaLibraries();
        folder = std::make_unique<TTempDir>();
        source = (folder->Path() / "camera.mp4").string();
        TClipSpec clipSpec;
        clipSpec.videoCodec = "libx264";
        clipSpec.audioCodec = "aac";
        clipSpec.width = 640;
        clipSpec.height = 480;
        clipSpec.durationSeconds = 4;
        clipSpec.videoBitRate = 1000000;
        WriteClip(source, clipSpec);
        converter = std::make_unique<TProfileConverter>();
    }
    static void TearDownTestSuite() {
        converter.reset();
        folder.reset();
    }

    TConversionOutcome Convert(const TParameterLists& lists, bool reencode, double* seconds) {
        const TOutputProfile& profile = *FindProfile("MP4 - H.264 + AAC");
        TJobSettings settings = SettingsFor(profile, lists, out_.Path().string());
        settings.Reencode = reencode;
        TSourceClip clip{source, 640, 480, 4};
        const auto start = std::chrono::steady_clock::now();
        TConversionOutcome outcome = converter->Convert(clip, settings);
        *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return outcome;
    }

    static inline std::unique_ptr<TTempDir> folder;
    static inline std::string source;
    static inline std::unique_ptr<TProfileConverter> converter;
    TTempDir out_;
};

TEST_F(StreamCopyTest, FittingStreamsAreCopiedBitExact) {
    TParameterLists lists;
    lists.ApplyProfile(*FindProfile("MP4 - H.264 + AAC"));
    double copySeconds = 0, encodeSeconds = 0;
    const TConversionOutcome copied = Convert(lists, false, &copySeconds);
    ASSERT_TRUE(copied.Done) << copied.Reason;
    EXPECT_TRUE(Noted(copied, "video copied as it is (h264 640x480)"));
    EXPECT_TRUE(Noted(copied, "audio copied as it is (aac 48000 Hz, 2 channels)"));
    const std::string sourceVideo = PacketMd5(source, "v");
    ASSERT_EQ(sourceVideo.rfind("MD5=", 0), 0u) << sourceVideo;
    EXPECT_EQ(PacketMd5(copied.OutputFile, "v"), sourceVideo);
    EXPECT_EQ(PacketMd5(copied.OutputFile, "a"), PacketMd5(source, "a"));
    const TProbedFile judge = RunFfprobe(copied.OutputFile);
    ASSERT_TRUE(judge.ok) << judge.error;
    EXPECT_NEAR(judge.duration, 4.0, 0.1);
    EXPECT_TRUE(IndexBeforeMedia(copied.OutputFile)) << "a copy is written with fast start too";

    // --reencode: every stream through its encoder, the packets new.
    const TConversionOutcome encoded = Convert(lists, true, &encodeSeconds);
    ASSERT_TRUE(encoded.Done) << encoded.Reason;
    EXPECT_FALSE(Noted(encoded, "video copied"));
    EXPECT_FALSE(Noted(encoded, "audio copied"));
    EXPECT_NE(PacketMd5(encoded.OutputFile, "v"), sourceVideo);
    std::printf("| copy %.3f s | encode %.3f s | encode / copy %.1f |\n", copySeconds,
                encodeSeconds, encodeSeconds / std::max(copySeconds, 1e-6));
    RecordProperty("copy_seconds", std::to_string(copySeconds));
    RecordProperty("encode_seconds", std::to_string(encodeSeconds));
}

TEST_F(StreamCopyTest, AnotherSizeOrRateEncodesThePictureAndCopiesTheSound) {
    const struct {
        const char* What;
        TChoiceList TParameterLists::*List;
        const char* Entry;
    } kChanges[] = {
        {"size", &TParameterLists::VideoSize, "360p"},
        {"frame rate", &TParameterLists::VideoFramerate, "30 fps"},
    };
    for (const auto& change : kChanges) {
        SCOPED_TRACE(change.What);
        TParameterLists lists;
        lists.ApplyProfile(*FindProfile("MP4 - H.264 + AAC"));
        TChoiceList& list = lists.*change.List;
        list.Selected = static_cast<int>(
            std::find(list.Items.begin(), list.Items.end(), change.Entry) - list.Items.begin());
        double seconds = 0;
        const TConversionOutcome outcome = Convert(lists, false, &seconds);
        ASSERT_TRUE(outcome.Done) << outcome.Reason;
        EXPECT_FALSE(Noted(outcome, "video copied"));
        EXPECT_TRUE(Noted(outcome, "audio copied"));
        EXPECT_EQ(PacketMd5(outcome.OutputFile, "a"), PacketMd5(source, "a"));
    }
}

// "MKV - H.264 + every audio and subtitle track" through the window's job builder: two sound
// tracks (the second the default, at another rate and channel count) and two SubRip tracks (the
// second forced) all arrive with their languages and dispositions, the default sound track first
// (players that ignore the mark play it too); the sound that fits is copied, the other encoded,
// the subtitles copied with every event.
TEST_F(StreamCopyTest, EveryTrackProfileKeepsEverySoundAndSubtitleTrack) {
    const std::string mono = (out_.Path() / "mono.m4a").string();
    TClipSpec monoSpec;
    monoSpec.videoCodec.clear();
    monoSpec.sampleRate = 44100;
    monoSpec.channels = 1;
    monoSpec.durationSeconds = 4;
    WriteClip(mono, monoSpec);
    const std::string english = (out_.Path() / "en.srt").string();
    const std::string german = (out_.Path() / "de.srt").string();
    WriteSubRip(english, "Line", 2);
    WriteSubRip(german, "Zeile", 2);
    const std::string tracked = (out_.Path() / "tracks.mkv").string();
    WriteTrackedFile(tracked, {{source, 0, "", 0},
                               {source, 1, "eng", 0},
                               {mono, 0, "ger", AV_DISPOSITION_DEFAULT},
                               {english, 0, "eng", 0},
                               {german, 0, "ger", AV_DISPOSITION_FORCED}});

    const TOutputProfile& profile = *FindProfile("MKV - H.264 + every audio and subtitle track");
    TParameterLists lists;
    lists.ApplyProfile(profile);
    TTempDir out;
    const TConversionOutcome outcome = converter->Convert(
        TSourceClip{tracked, 640, 480, 4}, SettingsFor(profile, lists, out.Path().string()));
    ASSERT_TRUE(outcome.Done) << outcome.Reason;
    EXPECT_TRUE(Noted(outcome, "video copied as it is"));
    EXPECT_TRUE(Noted(outcome, "audio track 1 (aac) copied as it is"));
    EXPECT_FALSE(Noted(outcome, "audio track 2"));

    const nlohmann::json streams = FfprobeJson("-show_streams", outcome.OutputFile)["streams"];
    ASSERT_EQ(streams.size(), 5u) << streams.dump();
    const struct {
        const char* Type;
        const char* Codec;
        const char* Language;
        int Default, Forced, Channels;
        double Seconds;  // the track's length; a subtitle's last event ends at 4.5 s
    } kExpected[] = {{"video", "h264", "", 0, 0, 0, 4.0},
                     {"audio", "aac", "ger", 1, 0, 2, 4.0},
                     {"audio", "aac", "eng", 0, 0, 2, 4.0},
                     {"subtitle", "subrip", "eng", 0, 0, 0, 4.5},
                     {"subtitle", "subrip", "ger", 0, 1, 0, 4.5}};
    for (std::size_t i = 0; i < streams.size(); ++i) {
        SCOPED_TRACE(i);
        const nlohmann::json& stream = streams[i];
        EXPECT_EQ(stream.value("codec_type", ""), kExpected[i].Type);
        EXPECT_EQ(stream.value("codec_name", ""), kExpected[i].Codec);
        const nlohmann::json tags = stream.value("tags", nlohmann::json::object());
        EXPECT_EQ(tags.value("language", std::string()), kExpected[i].Language);
        EXPECT_EQ(stream["disposition"].value("default", -1), kExpected[i].Default);
        EXPECT_EQ(stream["disposition"].value("forced", -1), kExpected[i].Forced);
        if (kExpected[i].Channels) {
            EXPECT_EQ(stream.value("channels", 0), kExpected[i].Channels);
        }
        // Matroska keeps each track's length as "HH:MM:SS.fraction".
        const std::string length = tags.value("DURATION", std::string("00:00:00"));
        const double seconds = std::stod(length.substr(6));
        EXPECT_NEAR(seconds, kExpected[i].Seconds, 0.15);
    }
    EXPECT_EQ(PacketMd5(outcome.OutputFile, "a:1"), PacketMd5(source, "a"));
    EXPECT_NE(PacketMd5(outcome.OutputFile, "a:0"), PacketMd5(mono, "a"));
    const nlohmann::json events =
        FfprobeJson("-select_streams s:1 -show_packets", outcome.OutputFile)["packets"];
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].value("duration_time", ""), "1.500000");
}

// A capture of two programs on clocks far apart: the tracks kept are the converted program's
// only (the other program's sound would be joined on to its clock 20,000 s away).
TEST_F(StreamCopyTest, EveryTrackOfACaptureIsTheConvertedProgramsOwn) {
    const std::string capture = (out_.Path() / "capture.ts").string();
    const std::string command =
        "ffmpeg -v error -y -f lavfi -i testsrc=size=640x360:rate=25:duration=2 "
        "-f lavfi -i sine=duration=2 -itsoffset 20000 -f lavfi -i testsrc=size=320x240:duration=2 "
        "-itsoffset 20000 -f lavfi -i sine=duration=2 -map 0:v -map 1:a -map 2:v -map 3:a "
        "-program program_num=1:st=0:st=1 -program program_num=2:st=2:st=3 -c:v mpeg2video "
        "-c:a mp2 " +
        ShellQuoted(capture);
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::optional<TSourceStreams> streams = ReadSourceStreams(capture);
    ASSERT_TRUE(streams);
    ASSERT_EQ(streams->Tracks.size(), 1u);
    EXPECT_EQ(streams->Tracks[0].Index, 1) << "the sound of the program with the larger picture";
}

// H.265 copied into MP4 is tagged hvc1 as an encoded one is: the source's hev1 would keep
// Apple's players from opening the file.
TEST_F(StreamCopyTest, CopiedHevcIsTaggedHvc1) {
    const std::string hev1 = (out_.Path() / "hev1.mp4").string();
    TClipSpec clipSpec;
    clipSpec.videoCodec = "libx265";
    clipSpec.width = 640;
    clipSpec.height = 480;
    WriteClip(hev1, clipSpec);
    const TProbedFile before = RunFfprobe(hev1);
    ASSERT_TRUE(before.ok && before.First("video")) << before.error;
    ASSERT_EQ(before.First("video")->codecTag, "hev1") << "the muxer's own tag for H.265";

    const TOutputProfile& profile = *FindProfile("MP4 - H.265 (HEVC) + AAC");
    TParameterLists lists;
    lists.ApplyProfile(profile);
    TTempDir out;
    const TConversionOutcome outcome = converter->Convert(
        TSourceClip{hev1, 640, 480, 2}, SettingsFor(profile, lists, out.Path().string()));
    ASSERT_TRUE(outcome.Done) << outcome.Reason;
    EXPECT_TRUE(Noted(outcome, "video copied as it is (hevc 640x480)"));
    const TProbedFile after = RunFfprobe(outcome.OutputFile);
    ASSERT_TRUE(after.ok && after.First("video")) << after.error;
    EXPECT_EQ(after.First("video")->codecTag, "hvc1");
    EXPECT_EQ(PacketMd5(outcome.OutputFile, "v"), PacketMd5(hev1, "v"));
}

// The decision itself, on sources described by hand: one difference is enough to encode.
TEST(CopyDecisionTest, OnlyWhatFitsIsCopied) {
    RequireMediaLibraries();
    TSourceStreams source;
    source.Video = TSourceStreams::TVideo{"h264", 1280, 720, {30000, 1001}, false, "yuv420p"};
    source.Audio = TSourceStreams::TAudio{"aac", 48000, 2};
    TJobDescription fits;
    fits.VideoCodec = "libx264";
    fits.AudioCodec = "aac";
    fits.AudioSampleRate = 48000;
    fits.AudioChannels = 2;
    fits.AudioVolume = 255;

    const struct {
        const char* What;
        void (*Change)(TJobDescription&);
        bool VideoCopied;
        bool AudioCopied;
    } kCases[] = {
        {"nothing", [](TJobDescription&) {}, true, true},
        {"same size named", [](TJobDescription& j) { j.FrameSize = "1280x720"; }, true, true},
        {"same rate, other terms",
         [](TJobDescription& j) {
             j.FrameRate = {{60000, 2002}};
         },
         true, true},
        {"other codec", [](TJobDescription& j) { j.VideoCodec = "libx265"; }, false, true},
        {"other size", [](TJobDescription& j) { j.FrameSize = "640x360"; }, false, true},
        {"other rate",
         [](TJobDescription& j) {
             j.FrameRate = {{25, 1}};
         },
         false, true},
        {"letter box", [](TJobDescription& j) { j.PadTop = j.PadBottom = 20; }, false, true},
        {"louder", [](TJobDescription& j) { j.AudioVolume = 300; }, true, false},
        {"other sample rate", [](TJobDescription& j) { j.AudioSampleRate = 44100; }, true, false},
        {"mono", [](TJobDescription& j) { j.AudioChannels = 1; }, true, false},
        {"other audio codec", [](TJobDescription& j) { j.AudioCodec = "libopus"; }, true, false},
        {"no video written",
         [](TJobDescription& j) {
             j.DisableVideo = true;
             j.VideoCodec.clear();
         },
         false, true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.What);
        TJobDescription job = fits;
        c.Change(job);
        std::vector<std::string> log;
        CopyStreamsThatFit(job, source, log);
        EXPECT_EQ(job.VideoCodec == "copy", c.VideoCopied);
        EXPECT_EQ(job.AudioCodec == "copy", c.AudioCopied);
        EXPECT_EQ(log.size(), std::size_t(c.VideoCopied) + std::size_t(c.AudioCopied));
        if (c.AudioCopied) {
            EXPECT_EQ(job.AudioVolume, -1) << "copied sound takes no volume";
        }
    }

    // H.265 copied into MP4 or MOV takes the tag an encoded one gets; into Matroska none.
    TSourceStreams hevc = source;
    hevc.Video->Codec = "hevc";
    for (const char* key : {"MP4", "MOV", "MKV"}) {
        TJobDescription job = fits;
        job.FormatKey = key;
        job.VideoCodec = "libx265";
        std::vector<std::string> log;
        CopyStreamsThatFit(job, hevc, log);
        EXPECT_EQ(job.VideoCodec, "copy") << key;
        EXPECT_EQ(job.OptionLines, key == std::string("MKV")
                                       ? std::vector<std::string>{}
                                       : std::vector<std::string>{"vtag=hvc1"})
            << key;
    }

    // 10-bit H.264 (High 10) plays almost nowhere: today's H.264 writes it again in 8 bits; H.265
    // keeps its 10.
    TSourceStreams deep = source;
    deep.Video->PictureFormat = "yuv420p10le";
    for (const auto& [encoder, codec, copied] :
         {std::tuple{"libx264", "h264", false}, std::tuple{"libx265", "hevc", true}}) {
        TJobDescription job = fits;
        job.VideoCodec = encoder;
        deep.Video->Codec = codec;
        std::vector<std::string> log;
        CopyStreamsThatFit(job, deep, log);
        EXPECT_EQ(job.VideoCodec == "copy", copied) << encoder;
    }

    // A phone's portrait video is stored sideways with a turn in its display matrix: its
    // pictures are made upright, so they are encoded even where all else fits.
    TSourceStreams turned = source;
    turned.Video->Turned = true;
    TJobDescription job = fits;
    std::vector<std::string> log;
    CopyStreamsThatFit(job, turned, log);
    EXPECT_EQ(job.VideoCodec, "libx264");
    EXPECT_EQ(job.AudioCodec, "copy");
}

// How each kept track goes into the output, by what the output's format holds: sound copied or
// encoded, the first the default; subtitles copied, encoded into the format's text (a file's
// always, as its characters are read in their own set) or left out with the reason.
TEST(CopyDecisionTest, KeptTracksAreCopiedEncodedOrLeftOut) {
    RequireMediaLibraries();
    TSourceStreams source;
    source.VideoIndex = 0;
    const auto track = [](int index, bool subtitle, AVCodecID codec, bool text,
                          TSourceStreams::TAudio format) {
        TSourceStreams::TTrack made;
        made.Index = index;
        made.Subtitle = subtitle;
        made.CodecId = codec;
        made.Text = text;
        made.Format = std::move(format);
        return made;
    };
    source.Tracks = {
        track(1, false, AV_CODEC_ID_AAC, false, {"aac", 48000, 2}),
        track(2, true, AV_CODEC_ID_HDMV_PGS_SUBTITLE, false, {"hdmv_pgs_subtitle", 0, 0}),
        track(3, false, AV_CODEC_ID_AAC, false, {"aac", 44100, 2}),
        track(4, true, AV_CODEC_ID_SUBRIP, true, {"subrip", 0, 0}),
    };
    TKeptTracks kept;
    kept.Sound = {1, 3};
    kept.Subtitles = {{0, 2, AV_CODEC_ID_HDMV_PGS_SUBTITLE, false, "", false, "track 2"},
                      {0, 4, AV_CODEC_ID_SUBRIP, true, "", false, "track 4"},
                      {1, 0, AV_CODEC_ID_SUBRIP, true, "ger", true, "film.de.forced.srt"}};
    TJobDescription asked;
    asked.VideoCodec = "copy";
    asked.AudioCodec = "aac";
    asked.AudioSampleRate = 48000;
    asked.AudioChannels = 2;
    asked.AudioVolume = 255;
    const std::vector<std::string> sound = {"acodec=aac", "adisposition=none", "newaudio"};
    const auto file = [](const char* codec) {
        return std::vector<std::string>{std::string("scodec=") + codec, "slang=ger",
                                        "sdisposition=forced", "newsubtitle"};
    };
    const auto joined = [](std::vector<std::vector<std::string>> parts) {
        std::vector<std::string> lines;
        for (const auto& part : parts) lines.insert(lines.end(), part.begin(), part.end());
        return lines;
    };
    const std::vector<std::string> copied = {"scodec=copy", "newsubtitle"};
    const struct {
        const char* Output;
        bool Copy;
        const char* FirstSound;
        std::vector<std::string> Maps;
        std::vector<std::string> StreamLines;
        const char* LeftOut;  // the log line of the track left out, or empty
    } kCases[] = {
        {"out.mkv",
         true,
         "copy",
         {"map=0:0", "map=0:1", "map=0:3", "map=0:2", "map=0:4", "map=1:0", "sn"},
         joined({sound, copied, copied, file("subrip")}),
         ""},
        {"out.mkv",
         false,
         "aac",
         {"map=0:0", "map=0:1", "map=0:3", "map=0:2", "map=0:4", "map=1:0", "sn"},
         joined({sound, copied, copied, file("subrip")}),
         ""},
        {"out.webm",
         true,
         "copy",
         {"map=0:0", "map=0:1", "map=0:3", "map=0:4", "map=1:0", "sn"},
         joined({sound, {"scodec=webvtt", "newsubtitle"}, file("webvtt")}),
         "subtitle track 2: PGS subtitles cannot be stored in WebM: not kept"},
        {"out.mp4",
         true,
         "copy",
         {"map=0:0", "map=0:1", "map=0:3", "map=0:4", "map=1:0", "sn"},
         joined({sound, {"scodec=mov_text", "newsubtitle"}, file("mov_text")}),
         "subtitle track 2: PGS subtitles cannot be stored in MP4: not kept"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.Output) + (c.Copy ? " copy" : " encode"));
        TJobDescription job = asked;
        job.OutputFile = c.Output;
        std::vector<std::string> log;
        KeepTracks(job, source, kept, c.Copy, log);
        EXPECT_EQ(job.AudioCodec, c.FirstSound);
        EXPECT_EQ(job.AudioVolume, c.Copy ? -1 : 255);
        std::vector<std::string> options = {"adisposition=default"};
        options.insert(options.end(), c.Maps.begin(), c.Maps.end());
        EXPECT_EQ(job.OptionLines, options);
        EXPECT_EQ(job.StreamLines, c.StreamLines);
        EXPECT_EQ(log.size(), (c.Copy ? 1u : 0u) + (*c.LeftOut ? 1u : 0u));
        if (*c.LeftOut) {
            EXPECT_EQ(log.back(), c.LeftOut);
        }
    }
    // A sound file: the chosen track, then the cover the format makes a stream of; no video.
    TSourceStreams withCover = source;
    withCover.CoverIndex = 5;
    TJobDescription job = asked;
    job.OutputFile = "out.mp3";
    job.DisableVideo = true;
    std::vector<std::string> log;
    KeepTracks(job, withCover, {{3}, {}}, false, log);
    EXPECT_EQ(job.OptionLines,
              (std::vector<std::string>{"adisposition=default", "map=0:3", "map=0:5", "sn"}));
    EXPECT_TRUE(job.StreamLines.empty());
}

}  // namespace
