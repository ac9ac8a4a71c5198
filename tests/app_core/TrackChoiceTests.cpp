// Which sound tracks a job keeps, what the user may ask for, and the subtitle files beside an
// input with their language, forced mark and character set.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/core/Languages.h"
#include "app/core/TrackChoice.h"
#include "support/TempDir.h"

namespace {

// Three sound tracks, as a film with its original and two dubs: Japanese first and default,
// then English and German (streams 1, 2, 3 after the picture).
TSourceStreams ThreeLanguages() {
    TSourceStreams source;
    source.VideoIndex = 0;
    source.AudioIndex = 1;
    for (const auto& [index, language] :
         {std::pair{1, "jpn"}, std::pair{2, "eng"}, std::pair{3, "deu"}}) {
        TSourceStreams::TTrack track;
        track.Index = index;
        track.Language = language;
        track.Default = index == 1;
        track.Format = {"aac", 48000, 2};
        source.Tracks.push_back(track);
    }
    return source;
}

struct TSoundCase {
    const char* Name;
    std::vector<std::string> Tracks;
    bool All;
    std::vector<std::string> Languages;
    bool Several;
    std::vector<int> Expected;
    int Notes;
};

class SoundChoice : public ::testing::TestWithParam<TSoundCase> {};

TEST_P(SoundChoice, KeepsTheTracksAskedForInOrder) {
    const TSoundCase& c = GetParam();
    TTrackRequest request;
    request.AudioTracks = c.Tracks;
    request.AllAudio = c.All;
    request.AudioLanguages = c.Languages;
    std::vector<std::string> notes;
    EXPECT_EQ(ChooseSoundTracks(ThreeLanguages(), request, c.Several, notes), c.Expected);
    EXPECT_EQ(static_cast<int>(notes.size()), c.Notes) << (notes.empty() ? "" : notes[0]);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SoundChoice,
    ::testing::Values(
        TSoundCase{"FileDefault", {}, false, {}, true, {1}, 0},
        // "deu" on the track, "ger" and "de" asked: one language.
        TSoundCase{"PreferredLanguage", {}, false, {"ger"}, true, {3}, 0},
        TSoundCase{"FirstPreferredFound", {}, false, {"fr", "de", "en"}, true, {3}, 0},
        TSoundCase{"OriginalIsTheFirstTrack", {}, false, {"original", "en"}, true, {1}, 0},
        TSoundCase{"NoPreferredFoundKeepsDefault", {}, false, {"fre"}, true, {1}, 0},
        TSoundCase{"AskedByNumberAndLanguage", {"3", "jpn"}, false, {"eng"}, true, {3, 1}, 0},
        TSoundCase{"AskedTwiceOnce", {"de", "3"}, false, {}, true, {3}, 0},
        TSoundCase{"OneTrackOutputTakesTheFirst", {"2", "1"}, false, {}, false, {2}, 0},
        TSoundCase{"AllWithTheChosenFirst", {}, true, {"de"}, true, {3, 1, 2}, 0},
        TSoundCase{"MissingNumberNotedRestKept", {"7", "eng"}, false, {}, true, {2}, 1},
        TSoundCase{"NothingFoundKeepsDefault", {"fre", "9"}, false, {}, true, {1}, 2}),
    [](const auto& suiteCase) { return std::string(suiteCase.param.Name); });

TEST(TrackRequest, NumbersAndCodesThatAreNoneAreRefusedByName) {
    const struct {
        TTrackRequest Request;
        const char* Named;  // what the problem names; empty: no problem
    } kCases[] = {
        {{{"2", "de", "ger", "jpn"}, false, {"original", "en"}, TSubtitleChoice::scAll, {}}, ""},
        {{{"0"}, false, {}, TSubtitleChoice::scAll, {}}, "--audio-track \"0\""},
        {{{"german"}, false, {}, TSubtitleChoice::scAll, {}}, "--audio-track \"german\""},
        {{{}, false, {"en", "xx"}, TSubtitleChoice::scAll, {}}, "--audio-lang: \"xx\""},
        {{{}, false, {}, TSubtitleChoice::scLanguages, {"de", "zz"}}, "--subtitles: \"zz\""},
    };
    for (const auto& c : kCases) {
        const std::string problem = TrackRequestProblem(c.Request);
        if (!*c.Named) {
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_EQ(problem.rfind(c.Named, 0), 0u) << problem;
        }
    }
    EXPECT_EQ(FindLanguage("DE")->Code, "ger");
    EXPECT_EQ(FindLanguage("fra")->Code, "fre");
    EXPECT_EQ(LanguageText("ja"), "Japanese (jpn)");
}

TEST(SubtitleCharsetTest, UnicodeTheSystemsSetLatin1OrNone) {
    const struct {
        const char* Name;
        std::string Bytes;
        const char* System;
        const char* Expected;  // empty: refused
    } kCases[] = {
        {"utf-8",
         "Gr\xC3\xBC\xC3\x9F"
         "e\r\n",
         "", "UTF-8"},
        {"utf-8 with its mark", "\xEF\xBB\xBFM\xC3\xBCnchen", "ISO-8859-15", "UTF-8"},
        {"utf-16 with its mark",
         std::string("\xFF\xFE"
                     "G\0r\0",
                     6),
         "", "UTF-8"},
        {"latin-1",
         "Gr\xFC\xDF"
         "e aus K\xF6ln\n",
         "UTF-8", "ISO-8859-1"},
        {"windows letters",
         "\x93Gr\xFC\xDF"
         "e\x94 \x80",
         "", "WINDOWS-1252"},
        {"the system's", "\xA4 5", "ISO-8859-15", "ISO-8859-15"},
        {"undefined in windows", "a\x81\xFC", "", ""},
        {"binary", std::string("ab\0\x01\xFF", 5), "", ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(SubtitleCharset(c.Bytes, c.System).value_or(""), c.Expected);
    }
}

TEST(SubtitleFilesTest, FilesNamedAfterTheVideoWithLanguageAndForcedMark) {
    RequireMediaLibraries();
    TTempDir dir;
    const std::string cue =
        "1\n00:00:00,500 --> 00:00:01,500\nGr\xFC\xDF"
        "e\n\n";
    const std::string ass =
        "[Script Info]\nScriptType: v4.00+\n\n[V4+ Styles]\nFormat: Name, Fontname, Fontsize\n"
        "Style: Default,Arial,20\n\n[Events]\nFormat: Layer, Start, End, Style, Text\n"
        "Dialogue: 0,0:00:00.50,0:00:01.50,Default,Hello\n";
    for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
             {"film.mp4", "not read"},
             {"film.srt", cue},
             {"film.de.srt", cue},
             {"film.GER.forced.SRT", cue},
             {"film.xx.srt", cue},
             {"film.en.ass", ass},
             {"film.fr.srt", std::string("\0\1", 2)},
             {"film.ja.vtt", "WEBVTT\n\n00:00.500 --> 00:01.500\nKonnichiwa\n"},
             {"film.it.ass", "just some words"},
             {"film2.de.srt", cue},
             {"film.de.txt", cue}})
        std::ofstream(dir.File(name), std::ios::binary) << text;
    const TFoundSubtitles found = FindSubtitleFiles(dir.File("film.mp4"));
    std::vector<std::string> seen;
    for (const TSubtitleFile& file : found.Files)
        seen.push_back(file.Name + " " + file.Language + (file.Forced ? " forced " : " ") +
                       file.Charset + (file.Ass ? " ass" : ""));
    EXPECT_EQ(seen, (std::vector<std::string>{"film.GER.forced.SRT ger forced ISO-8859-1",
                                              "film.de.srt ger ISO-8859-1",
                                              "film.en.ass eng UTF-8 ass", "film.ja.vtt jpn UTF-8",
                                              "film.srt  ISO-8859-1", "film.xx.srt  ISO-8859-1"}));
    const std::string latin1 = ": not UTF-8; read as ISO-8859-1";
    EXPECT_EQ(
        found.Notes,
        (std::vector<std::string>{
            "film.GER.forced.SRT" + latin1, "film.de.srt" + latin1,
            "film.fr.srt: its text is neither UTF-8, the system's character set nor "
            "Latin-1; not kept",
            "film.it.ass: holds no subtitles the libraries read; not kept", "film.srt" + latin1,
            "film.xx.srt: \"xx\" is no language code (two or three letters, as de or "
            "ger); kept without a language",
            "film.xx.srt" + latin1}));
}

}  // namespace
