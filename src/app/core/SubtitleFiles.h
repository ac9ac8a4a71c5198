// Subtitle files beside a video, named after it: "film.srt", "film.de.srt", "film.ger.forced.ass",
// "film.vtt" beside "film.mp4" are its subtitle tracks, with their language and forced mark.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct TSubtitleFile {
    std::string Path;
    std::string Name;      // the file's name, as the log and messages give it
    std::string Language;  // ISO 639-2/B ("ger"); empty where the name gives none
    bool Forced = false;   // "NAME.LANG.forced.EXT": only the foreign speech
    bool Ass = false;      // ASS or SSA, with styles of its own
    std::string Charset;   // the character set its text is read in ("UTF-8", "WINDOWS-1252")
    int Stream = 0;        // its subtitle stream, as the libraries read the file
    int CodecId = 0;       // the libraries' codec id of that stream
};

struct TFoundSubtitles {
    std::vector<TSubtitleFile> Files;  // in name order
    // What was found but not taken, names whose language part is no code, and texts read in
    // another character set than UTF-8: each line names its file and says why.
    std::vector<std::string> Notes;
};

// The subtitle files beside `input`: .srt, .ass, .ssa and .vtt (in any case) named the input's
// name without its extension, then nothing, a language code (two or three letters) or a code
// and "forced". A file whose text is neither UTF-8 (or UTF-16 with its mark), the system's
// character set nor Latin-1, or that the libraries cannot read, is refused with a note.
TFoundSubtitles FindSubtitleFiles(const std::string& input);

// The character set a subtitle file's bytes are text in: "UTF-8" for UTF-16 with its mark (which
// the libraries read as such); none for a text with control characters (a binary file); "UTF-8"
// for UTF-8 (with or without its mark), else `systemCharset` (the locale's, as "ISO-8859-15";
// empty or UTF-8 skips it) when every byte converts, else Latin-1 ("ISO-8859-1", or
// "WINDOWS-1252" when it uses that set's letters in 0x80 to 0x9F, if they all are letters).
std::optional<std::string> SubtitleCharset(const std::string& bytes,
                                           const std::string& systemCharset);

// The locale's character set from LC_ALL, LC_CTYPE or LANG ("de_DE.ISO-8859-15@euro" gives
// "ISO-8859-15"); empty where none is named.
std::string SystemCharset();
