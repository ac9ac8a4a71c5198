// `convert` choosing sound tracks by language and number, and keeping the subtitle files beside
// a video, as a user runs it; ffprobe and ffmpeg judge the outputs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "support/Ffprobe.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"
#include "support/TrackedMedia.h"

namespace {

class TrackCliTest : public ::testing::Test {
  protected:
    void SetUp() override { RequireMediaLibraries(); }

    // A film with three sound tracks: Japanese first and default (3 s), then English (2 s) and
    // German (2.5 s), so that a sound-only output tells by its length which one it took.
    std::string ThreeLanguageFilm() {
        TClipSpec picture;
        picture.durationSeconds = 3;
        const std::string clip = dir.File("picture.mkv");
        WriteClip(clip, picture);
        std::vector<TTrackSource> tracks = {{clip, 0, "", 0}};
        for (const auto& [language, seconds] :
             {std::pair{"jpn", 3.0}, std::pair{"eng", 2.0}, std::pair{"ger", 2.5}}) {
            TClipSpec sound;
            sound.videoCodec.clear();
            sound.durationSeconds = seconds;
            const std::string path = dir.File(std::string(language) + ".mka");
            WriteClip(path, sound);
            tracks.push_back({path, 0, language, language == std::string("jpn") ? 1 : 0});
        }
        const std::string film = dir.File("film.mkv");
        WriteTrackedFile(film, tracks);
        return film;
    }

    // Each stream of a kind as "LANGUAGE DEFAULT FORCED CODEC": "ger 1 0 aac".
    static std::vector<std::string> Streams(const std::string& path, const std::string& type) {
        std::vector<std::string> seen;
        const nlohmann::json probed = FfprobeJson("-show_streams", path);
        for (const nlohmann::json& stream : probed["streams"]) {
            if (stream.value("codec_type", "") != type) continue;
            const nlohmann::json tags = stream.value("tags", nlohmann::json::object());
            seen.push_back(tags.value("language", std::string("-")) + " " +
                           std::to_string(stream["disposition"].value("default", -1)) + " " +
                           std::to_string(stream["disposition"].value("forced", -1)) + " " +
                           stream.value("codec_name", ""));
        }
        return seen;
    }

    // The text of a subtitle track as SubRip, decoded by ffmpeg.
    static std::string SubtitleText(const std::string& path, int track) {
        return RunProgram("/usr/bin/ffmpeg", {"-v", "error", "-i", path, "-map",
                                              "0:s:" + std::to_string(track), "-f", "srt", "-"})
            .Out;
    }

    TTempDir dir;
};

// Every container family: the preferred language or the tracks asked for, all of them where the
// output holds several (the chosen one first and the default), the first where it holds one.
TEST_F(TrackCliTest, LanguageChoicePicksTheTrackInEveryContainerFamily) {
    const std::string film = ThreeLanguageFilm();
    const struct {
        const char* Profile;
        std::vector<std::string> Options;
        const char* Output;
        std::vector<std::string> Sound;
        double Seconds;  // a sound-only output's length; 0 for video
    } kCases[] = {
        {"MP4 - H.264 + AAC", {"--audio-lang", "de"}, "film.mp4", {"ger 1 0 aac"}, 0},
        {"MP4 - H.264 + AAC",
         {"--all-audio", "--audio-lang", "fre,en"},
         "film.mp4",
         {"eng 1 0 aac", "jpn 0 0 aac", "ger 0 0 aac"},
         0},
        {"MKV - H.264 + every audio and subtitle track",
         {"--audio-lang", "ger"},
         "film.mkv",
         {"ger 1 0 aac", "jpn 0 0 aac", "eng 0 0 aac"},
         0},
        {"WebM - VP9 + Opus",
         {"--audio-track", "deu", "--audio-track", "2"},
         "film.webm",
         {"ger 1 0 opus", "eng 0 0 opus"},
         0},
        // Ogg keeps no default mark.
        {"Opus", {"--audio-lang", "fre,ger,eng"}, "film.opus", {"ger 0 0 opus"}, 2.5},
        {"MP3 (VBR quality)", {"--audio-track", "2", "--audio-track", "3"}, "film.mp3", {}, 2.0},
        {"FLAC (lossless)", {}, "film.flac", {}, 3.0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.Profile) + " " + std::to_string(c.Options.size()));
        const std::filesystem::path out = dir.Path() / "out";
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
        std::vector<std::string> arguments = {"convert", "--profile", c.Profile, "--output-folder",
                                              out.string()};
        arguments.insert(arguments.end(), c.Options.begin(), c.Options.end());
        arguments.push_back(film);
        const TProgramResult run = RunCli(arguments);
        ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
        const std::string output = (out / c.Output).string();
        if (!c.Sound.empty()) {
            EXPECT_EQ(Streams(output, "audio"), c.Sound);
        }
        if (c.Seconds > 0) {
            const TProbedFile judged = RunFfprobe(output);
            ASSERT_EQ(judged.streams.size(), 1u);
            EXPECT_NEAR(judged.duration, c.Seconds, 0.15);
        }
    }
}

// A track the file lacks is said and left out, the rest converts; a code that is no language
// stops before anything is converted.
TEST_F(TrackCliTest, MissingTracksAreSaidAndUnknownCodesRefused) {
    const std::string film = ThreeLanguageFilm();
    const std::string report = dir.File("report.json");
    const TProgramResult run =
        RunCli({"convert", "--profile", "MKV - H.264 + every audio and subtitle track",
                "--output-folder", dir.Path().string(), "--audio-track", "7", "--audio-track",
                "fre", "--audio-track", "eng", "--report", report, film});
    ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_NE(run.Err.find("audio track 7 left out: the file has 3 sound tracks (1 jpn, 2 eng, "
                           "3 ger)"),
              std::string::npos)
        << run.Err;
    EXPECT_NE(run.Err.find("audio track French (fre) left out"), std::string::npos) << run.Err;
    const nlohmann::json record = nlohmann::json::parse(std::ifstream(report))["files"][0];
    EXPECT_EQ(record.value("status", ""), "done");
    EXPECT_EQ(record["notes"][0].get<std::string>().rfind("audio track 7 left out", 0), 0u)
        << record.dump();
    EXPECT_EQ(Streams(dir.File("film-1.mkv"), "audio").front(), "eng 1 0 aac");

    for (const auto& option : {std::vector<std::string>{"--audio-lang", "en,xx"},
                               std::vector<std::string>{"--audio-track", "0"},
                               std::vector<std::string>{"--subtitles", "german"}}) {
        std::vector<std::string> arguments = {"convert", "--profile", "MP4 - H.264 + AAC"};
        arguments.insert(arguments.end(), option.begin(), option.end());
        arguments.push_back(film);
        const TProgramResult refused = RunCli(arguments);
        EXPECT_EQ(refused.ExitCode, 2) << option[0];
        EXPECT_NE(refused.Err.find(option[0]), std::string::npos) << refused.Err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("film.mp4")));
}

// Subtitle files beside the video, in UTF-8, Latin-1 and ASS with a style of its own, go into
// MP4, MKV and WebM in each one's text format with their language and forced mark, umlauts
// intact; a file that is no text is refused by name and the rest converts.
TEST_F(TrackCliTest, SubtitleFilesBesideTheVideoAreKeptInEveryFormat) {
    TClipSpec clipSpec;
    clipSpec.durationSeconds = 3;
    const std::string film = dir.File("film.mp4");
    WriteClip(film, clipSpec);
    const auto write = [this](const std::string& name, const std::string& bytes) {
        std::ofstream(dir.File(name), std::ios::binary) << bytes;
    };
    write("film.de.srt",
          "1\n00:00:00,500 --> 00:00:02,000\nGr\xC3\xBC\xC3\x9F"
          "e aus "
          "M\xC3\xBCnchen\n\n");
    write("film.de.forced.srt",
          "1\n00:00:01,000 --> 00:00:02,500\nSch\xF6ne Gr\xFC\xDF"
          "e\n\n");
    write("film.en.ass",
          "[Script Info]\nScriptType: v4.00+\nPlayResX: 320\nPlayResY: 240\n\n[V4+ Styles]\n"
          "Format: Name, Fontname, Fontsize, PrimaryColour, Bold\n"
          "Style: Default,DejaVu Sans,18,&H00FFFFFF,0\nStyle: Shout,DejaVu Sans,28,&H000000FF,1\n\n"
          "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, "
          "Text\nDialogue: 0,0:00:00.50,0:00:02.00,Shout,,0,0,0,,Hello\n");
    write("film.fr.srt", std::string("\x00\x01\x02garbage", 10));
    const struct {
        const char* Profile;
        const char* Output;
        std::vector<std::string> Subtitles;
        const char* FitSize;  // empty: none; a fit writes its passes with every track too
    } kCases[] = {
        {"MP4 - H.264 + AAC",
         "film.mp4",
         {"ger 0 1 mov_text", "ger 0 0 mov_text", "eng 0 0 mov_text"},
         ""},
        {"MP4 - H.264 + AAC",
         "film.mp4",
         {"ger 0 1 mov_text", "ger 0 0 mov_text", "eng 0 0 mov_text"},
         "100kB"},
        {"MKV - H.264 + every audio and subtitle track",
         "film.mkv",
         {"ger 0 1 subrip", "ger 0 0 subrip", "eng 0 0 ass"},
         ""},
        {"WebM - VP9 + Opus",
         "film.webm",
         {"ger 0 1 webvtt", "ger 0 0 webvtt", "eng 0 0 webvtt"},
         ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.Profile) + " " + c.FitSize);
        const std::filesystem::path out = dir.Path() / "out";
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
        std::vector<std::string> arguments = {"convert",         "--profile",  c.Profile,
                                              "--output-folder", out.string(), film};
        if (*c.FitSize) arguments.insert(arguments.end() - 1, {"--fit-size", c.FitSize});
        const TProgramResult run = RunCli(arguments);
        ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
        EXPECT_NE(run.Err.find("film.fr.srt: its text is neither UTF-8"), std::string::npos)
            << run.Err;
        const std::string output = (out / c.Output).string();
        std::vector<std::string> subtitles = Streams(output, "subtitle");
        // MP4's muxer marks the first track of each kind as the default by itself.
        if (!subtitles.empty() && c.Output == std::string("film.mp4")) subtitles[0][4] = '0';
        EXPECT_EQ(subtitles, c.Subtitles);
        EXPECT_NE(SubtitleText(output, 0).find("Sch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F"
                                               "e"),
                  std::string::npos);
        EXPECT_NE(SubtitleText(output, 1).find("Gr\xC3\xBC\xC3\x9F"
                                               "e aus M\xC3\xBCnchen"),
                  std::string::npos);
        EXPECT_NE(SubtitleText(output, 2).find("Hello"), std::string::npos);
    }
    // A cut file converts without them, and says so: the files' cues are not cut with it.
    const std::string cut = (dir.Path() / "out-cut").string();
    std::filesystem::create_directory(cut);
    const TProgramResult trimmed = RunCli({"convert", "--profile", "MP4 - H.264 + AAC", "--trim",
                                           "0.5-2.5", "--output-folder", cut, film});
    ASSERT_EQ(trimmed.ExitCode, 0) << trimmed.Out << trimmed.Err;
    EXPECT_TRUE(Streams(cut + "/film.mp4", "subtitle").empty());
    EXPECT_NE(trimmed.Err.find("film.de.srt: not kept; the ranges are cut"), std::string::npos)
        << trimmed.Err;
    // The styles of the ASS file go with it into Matroska.
    const std::string mkv = (dir.Path() / "out-mkv").string();
    std::filesystem::create_directory(mkv);
    ASSERT_EQ(RunCli({"convert", "--profile", "MKV - H.264 + every audio and subtitle track",
                      "--subtitles", "en", "--output-folder", mkv, film})
                  .ExitCode,
              0);
    EXPECT_EQ(Streams(mkv + "/film.mkv", "subtitle"), std::vector<std::string>{"eng 0 0 ass"});
    const std::string header =
        RunProgram("/usr/bin/ffmpeg", {"-v", "error", "-i", mkv + "/film.mkv", "-map", "0:s:0",
                                       "-c", "copy", "-f", "ass", "-"})
            .Out;
    EXPECT_NE(header.find("Style: Shout,DejaVu Sans,28"), std::string::npos) << header;
}

}  // namespace
