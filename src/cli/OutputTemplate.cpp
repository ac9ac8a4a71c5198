#include "cli/OutputTemplate.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "cli/ConvertSettings.h"

namespace {

constexpr const char* kTokens[] = {"name",   "ext",   "folder",   "profile", "width",
                                   "height", "codec", "duration", "date",    "title"};

bool KnownToken(const std::string& name) {
    return std::find_if(std::begin(kTokens), std::end(kTokens),
                        [&](const char* token) { return name == token; }) != std::end(kTokens);
}

// "1h02m03s", "2m03s" or "45s", whole seconds; empty when the length is not known.
std::string DurationText(std::int64_t us) {
    if (us < 0) return {};
    const std::int64_t seconds = (us + 500000) / 1000000;
    char text[48];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%lldh%02lldm%02llds", (long long)(seconds / 3600),
                      (long long)(seconds / 60 % 60), (long long)(seconds % 60));
    } else if (seconds >= 60) {
        std::snprintf(text, sizeof text, "%lldm%02llds", (long long)(seconds / 60),
                      (long long)(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%llds", (long long)seconds);
    }
    return text;
}

// The recording's date as the container gives it, else the file's time of change; YYYY-MM-DD in
// local time, empty when neither is known.
std::string DateText(const TNameFacts& facts) {
    std::time_t when = static_cast<std::time_t>(facts.CreatedSeconds);
    struct stat status {};
    if (when <= 0) {
        if (::stat(facts.Input.c_str(), &status) != 0) return {};
        when = status.st_mtime;
    }
    std::tm local{};
    if (!::localtime_r(&when, &local)) return {};
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

std::string NumberText(int value) {
    return value > 0 ? std::to_string(value) : std::string();
}

std::string TokenValue(const std::string& token, const TNameFacts& facts) {
    const std::filesystem::path input(facts.Input);
    if (token == "name") return input.stem().string();
    if (token == "ext") {
        const std::string extension = input.extension().string();
        return extension.empty() ? extension : extension.substr(1);
    }
    if (token == "folder") {
        std::error_code error;
        return std::filesystem::absolute(input, error)
            .lexically_normal()
            .parent_path()
            .filename()
            .string();
    }
    if (token == "profile") return facts.Profile;
    if (token == "width") return NumberText(facts.Width);
    if (token == "height") return NumberText(facts.Height);
    if (token == "codec") return facts.Codec;
    if (token == "duration") return DurationText(facts.DurationUs);
    if (token == "date") return DateText(facts);
    return facts.Title.empty() ? input.stem().string() : facts.Title;
}

// The length of the UTF-8 sequence that starts at `at`, or 0 when none does.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x6  ? 2
                               : (lead >> 4) == 0xE  ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
    return length;
}

bool ReservedOnWindows(const std::string& name) {
    std::string upper;
    for (char c : name.substr(0, name.find('.')))
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char* device : kDevices)
        if (upper == device) return true;
    return upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

}  // namespace

const char* NameTokenList() {
    return "{name}, {ext}, {folder}, {profile}, {width}, {height}, {codec}, {duration}, {date}, "
           "{title}";
}

std::string SafeFileName(const std::string& name, std::size_t maxBytes) {
    std::string safe;
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t length = Utf8Length(name, at);
        const auto c = static_cast<unsigned char>(name[at]);
        const bool replaced =
            length == 0 || c < 0x20 || c == 0x7F ||
            std::string("<>:\"/\\|?*").find(static_cast<char>(c)) != std::string::npos;
        const std::string piece = replaced ? "_" : name.substr(at, length);
        if (safe.size() + piece.size() > maxBytes) break;
        safe += piece;
        at += length == 0 ? 1 : length;
    }
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) safe.pop_back();
    if (!safe.empty() && safe.front() == '.') safe.front() = '_';
    if (ReservedOnWindows(safe)) safe += "_";
    return safe;
}

TNameTemplate TNameTemplate::Parse(const std::string& text) {
    TNameTemplate parsed;
    bool anyText = false;
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == '/') {
            throw TUsageError("--name \"" + text +
                              "\": a template names a file, not a folder (no \"/\"); --keep-tree "
                              "keeps the input's folders");
        }
        if (text[at] != '{') {
            const std::size_t next = text.find_first_of("{/", at);
            const std::string literal = text.substr(at, next - at);
            parsed.pieces_.push_back({false, literal});
            anyText |= literal.find_first_not_of(" .") != std::string::npos;
            at = next == std::string::npos ? text.size() : next;
            continue;
        }
        const std::size_t close = text.find('}', at);
        if (close == std::string::npos) {
            throw TUsageError("--name \"" + text + "\": the \"{\" at character " +
                              std::to_string(at + 1) + " is never closed");
        }
        const std::string token = text.substr(at + 1, close - at - 1);
        if (!KnownToken(token)) {
            throw TUsageError("--name \"" + text + "\": unknown token {" + token +
                              "}; a template takes " + NameTokenList());
        }
        parsed.pieces_.push_back({true, token});
        anyText = true;
        at = close + 1;
    }
    if (!anyText) {
        throw TUsageError("--name \"" + text +
                          "\" gives an empty name; use tokens such as {name} or {title}");
    }
    return parsed;
}

std::string TNameTemplate::Render(const TNameFacts& facts) const {
    std::string name;
    for (const TPiece& piece : pieces_)
        name += piece.Token ? TokenValue(piece.Text, facts) : piece.Text;
    // Room is left for the numbering ("-12") and the working names (".NAME.converting.EXT").
    constexpr std::size_t kLongestName = 200;
    return SafeFileName(name, kLongestName);
}
