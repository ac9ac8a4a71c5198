#include "app/core/SubtitleFiles.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/core/Languages.h"
#include "binding/FFmpegLibs.h"
#include "binding/LibHandles.h"

namespace {

namespace fs = std::filesystem;

// A subtitle file is a few hundred kilobytes; anything far larger is no subtitle file.
constexpr std::uintmax_t kLargestSubtitleFile = 32u << 20;

constexpr const char* kSubtitleExtensions[] = {".srt", ".ass", ".ssa", ".vtt"};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool ValidUtf8(const std::string& bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        int follow = 0;
        if (lead < 0x80)
            follow = 0;
        else if (lead >= 0xC2 && lead <= 0xDF)
            follow = 1;
        else if (lead >= 0xE0 && lead <= 0xEF)
            follow = 2;
        else if (lead >= 0xF0 && lead <= 0xF4)
            follow = 3;
        else
            return false;
        if (follow > 0 && i + follow >= bytes.size()) return false;
        for (int k = 1; k <= follow; ++k)
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
        // Overlong forms and surrogates are no UTF-8.
        const auto second = follow ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
            (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
            return false;
        i += follow + 1;
    }
    return true;
}

// Whether every byte of the text converts from `charset` to UTF-8.
bool ConvertsFrom(const std::string& bytes, const std::string& charset) {
    const iconv_t converter = iconv_open("UTF-8", charset.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    std::string in = bytes;
    std::string out(bytes.size() * 4 + 16, '\0');
    char* inPointer = in.data();
    char* outPointer = out.data();
    std::size_t inLeft = in.size(), outLeft = out.size();
    const std::size_t result = iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
    iconv_close(converter);
    return result != static_cast<std::size_t>(-1) && inLeft == 0;
}

// Control characters that no subtitle text holds: all below the blank but tab, line feed, form
// feed and carriage return, and delete.
bool HasControlCharacters(const std::string& bytes) {
    return std::any_of(bytes.begin(), bytes.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\f' && byte != '\r') ||
               byte == 0x7F;
    });
}

std::optional<std::string> ReadSmallFile(const fs::path& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error || size > kLargestSubtitleFile) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return std::nullopt;
    return bytes;
}

// The file's subtitle stream as the libraries read it; false when they cannot.
bool ReadSubtitleStream(TSubtitleFile& file) {
    if (!AVFormatLoaded()) return true;
    AVFormatContext* opened = nullptr;
    if (LibAVFormat.avformat_open_input(&opened, file.Path.c_str(), nullptr, nullptr) < 0)
        return false;
    const TInputPtr context(opened);
    if (LibAVFormat.avformat_find_stream_info(context.get(), nullptr) < 0) return false;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVCodecParameters* par = context->streams[i]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_SUBTITLE) continue;
        file.Stream = static_cast<int>(i);
        file.CodecId = par->codec_id;
        return true;
    }
    return false;
}

// Reads the language and forced mark from the part between the video's name and the
// extension ("de", "ger.forced"); a part that names no language is noted.
void ReadNameParts(const std::string& parts, TSubtitleFile& file, std::vector<std::string>& notes) {
    std::string language = parts;
    if (language == "forced" || language.ends_with(".forced")) {
        file.Forced = true;
        language.erase(language.size() - std::min<std::size_t>(language.size(), 7));
        if (!language.empty() && language.back() == '.') language.pop_back();
    }
    if (language.empty()) return;
    if (const auto found = FindLanguage(language)) {
        file.Language = found->Code;
        return;
    }
    notes.push_back(file.Name + ": \"" + language +
                    "\" is no language code (two or three letters, as de or ger); kept "
                    "without a language");
}

}  // namespace

std::optional<std::string> SubtitleCharset(const std::string& bytes,
                                           const std::string& systemCharset) {
    const bool utf16 = bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                                             (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
    if (utf16) return "UTF-8";
    if (HasControlCharacters(bytes)) return std::nullopt;
    if (ValidUtf8(bytes)) return "UTF-8";
    const std::string system = Lower(systemCharset);
    if (!system.empty() && system != "utf-8" && system != "utf8" &&
        ConvertsFrom(bytes, systemCharset))
        return systemCharset;
    const bool windowsLetters = std::any_of(bytes.begin(), bytes.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x80 && byte <= 0x9F;
    });
    if (!windowsLetters) return "ISO-8859-1";
    if (ConvertsFrom(bytes, "WINDOWS-1252")) return "WINDOWS-1252";
    return std::nullopt;
}

std::string SystemCharset() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        const std::string locale = value;
        const auto dot = locale.find('.');
        if (dot == std::string::npos) return {};
        return locale.substr(dot + 1, locale.find('@', dot) - dot - 1);
    }
    return {};
}

TFoundSubtitles FindSubtitleFiles(const std::string& input) {
    TFoundSubtitles found;
    const fs::path video(input);
    const std::string stem = video.stem().string() + ".";
    std::error_code error;
    const fs::path folder = video.has_parent_path() ? video.parent_path() : fs::path(".");
    std::vector<fs::path> candidates;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        const std::string extension = Lower(entry.path().extension().string());
        if (!name.starts_with(stem) || entry.path() == video) continue;
        if (std::find(std::begin(kSubtitleExtensions), std::end(kSubtitleExtensions), extension) ==
            std::end(kSubtitleExtensions))
            continue;
        if (entry.is_regular_file(error)) candidates.push_back(entry.path());
    }
    std::sort(candidates.begin(), candidates.end());
    const std::string system = SystemCharset();
    for (const fs::path& path : candidates) {
        TSubtitleFile file;
        file.Path = path.string();
        file.Name = path.filename().string();
        const std::string extension = Lower(path.extension().string());
        file.Ass = extension == ".ass" || extension == ".ssa";
        // "film.srt" has no parts: its stem's dot is its extension's.
        const std::size_t named = stem.size() + extension.size();
        if (file.Name.size() > named)
            ReadNameParts(Lower(file.Name.substr(stem.size(), file.Name.size() - named)), file,
                          found.Notes);
        const std::optional<std::string> bytes = ReadSmallFile(path);
        const std::optional<std::string> charset =
            bytes ? SubtitleCharset(*bytes, system) : std::nullopt;
        if (!bytes) {
            found.Notes.push_back(file.Name + ": cannot be read; not kept");
            continue;
        }
        if (!charset) {
            found.Notes.push_back(file.Name +
                                  ": its text is neither UTF-8, the system's character set nor "
                                  "Latin-1; not kept");
            continue;
        }
        file.Charset = *charset;
        if (file.Charset != "UTF-8")
            found.Notes.push_back(file.Name + ": not UTF-8; read as " + file.Charset);
        if (!ReadSubtitleStream(file)) {
            found.Notes.push_back(file.Name + ": holds no subtitles the libraries read; not kept");
            continue;
        }
        found.Files.push_back(std::move(file));
    }
    return found;
}
