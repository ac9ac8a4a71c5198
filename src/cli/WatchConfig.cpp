#include "cli/WatchConfig.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>

#include "cli/ConvertSettings.h"
#include "cli/TomlConfig.h"

namespace {

using TJson = nlohmann::ordered_json;

// The line of each object key of a JSON text, in the order the keys stand.
std::vector<int> KeyLines(const std::string& text) {
    std::vector<int> lines;
    int line = 1;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\n') ++line;
        if (text[at] != '"') continue;
        std::size_t end = at + 1;
        while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
        std::size_t next = end + 1;
        while (next < text.size() && std::isspace(static_cast<unsigned char>(text[next])) &&
               text[next] != '\n')
            ++next;
        if (next < text.size() && text[next] == ':') lines.push_back(line);
        at = end;
    }
    return lines;
}

// Each key's JSON pointer ("/folders/1/hours") and its line, walking the document in order.
void MapKeyLines(const TJson& value, const std::string& pointer, const std::vector<int>& lines,
                 std::size_t& next, std::map<std::string, int>& found) {
    if (value.is_object()) {
        for (const auto& [key, child] : value.items()) {
            const std::string path = pointer + "/" + key;
            found[path] = next < lines.size() ? lines[next] : 0;
            ++next;
            MapKeyLines(child, path, lines, next, found);
        }
    } else if (value.is_array()) {
        for (std::size_t i = 0; i < value.size(); ++i)
            MapKeyLines(value[i], pointer + "/" + std::to_string(i), lines, next, found);
    }
}

// The JSON document, and the line of each of its keys by their pointer.
TJson ReadJsonConfig(const std::string& path, const std::string& text,
                     std::map<std::string, int>& lines) {
    TJson document;
    try {
        document = TJson::parse(text);
    } catch (const TJson::parse_error& error) {
        int line = 1;
        for (std::size_t at = 0; at + 1 < error.byte && at < text.size(); ++at)
            line += text[at] == '\n';
        const std::string what = error.what();
        const auto reason = what.find("syntax error");
        throw TUsageError(path + ": line " + std::to_string(line) + ": " +
                          (reason == std::string::npos ? what : what.substr(reason)));
    }
    std::size_t next = 0;
    MapKeyLines(document, "", KeyLines(text), next, lines);
    return document;
}

// A file named .toml, or one that does not begin as a JSON object does, is TOML.
bool IsToml(const std::string& path, const std::string& text) {
    const std::string extension = std::filesystem::path(path).extension().string();
    if (extension == ".toml") return true;
    if (extension == ".json") return false;
    const auto first =
        text.find_first_not_of(" \t\r\n", text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0);
    return first != std::string::npos && text[first] != '{';
}

// The folders of a document in the layout of the JSON form, with the lines of its keys.
class TConfigReader {
  public:
    TConfigReader(std::string path, TJson document, std::map<std::string, int> lines)
        : path_(std::move(path)), document_(std::move(document)), lines_(std::move(lines)) {}

    std::vector<TWatchEntry> Entries(const TConvertRequest& common) {
        if (!document_.is_object()) Fail("", "the file holds no object");
        for (const auto& [key, value] : document_.items())
            if (key != "folders") Fail("/" + key, "is not a key of the file; it takes \"folders\"");
        const TJson& folders = document_.value("folders", TJson());
        if (!folders.is_array() || folders.empty())
            Fail("/folders", "must be a list of folders, [{\"folder\": ...}, ...]");
        std::vector<TWatchEntry> entries;
        for (std::size_t i = 0; i < folders.size(); ++i)
            entries.push_back(Entry(folders[i], "/folders/" + std::to_string(i), common));
        return entries;
    }

  private:
    [[noreturn]] void Fail(const std::string& pointer, const std::string& message) const {
        const auto line = lines_.find(pointer);
        std::string key = pointer.substr(pointer.rfind('/') + 1);
        // A folder's place in the list is no key: its message names the line alone.
        if (key.find_first_not_of("0123456789") == std::string::npos) key.clear();
        throw TUsageError(path_ +
                          (line != lines_.end() && line->second > 0
                               ? ": line " + std::to_string(line->second)
                               : std::string()) +
                          (key.empty() ? ": " : ", key \"" + key + "\": ") + message);
    }

    std::string Text(const TJson& entry, const std::string& pointer, const char* key,
                     bool required = false) const {
        if (!entry.contains(key)) {
            // Said of the entry as a whole: at its first key.
            if (required)
                Fail(entry.empty() ? pointer : pointer + "/" + entry.begin().key(),
                     std::string("the folder needs \"") + key + "\"");
            return {};
        }
        const TJson& value = entry[key];
        if (!value.is_string() || value.get<std::string>().empty())
            Fail(pointer + "/" + key, "must be a text that is not empty");
        return value.get<std::string>();
    }

    bool Flag(const TJson& entry, const std::string& pointer, const char* key) const {
        if (!entry.contains(key)) return false;
        if (!entry[key].is_boolean()) Fail(pointer + "/" + key, "must be true or false");
        return entry[key].get<bool>();
    }

    TWatchEntry Entry(const TJson& entry, const std::string& pointer,
                      const TConvertRequest& common) const {
        static const char* const kKeys[] = {
            "folder",    "output_folder", "profile", "preset", "quality", "video_size", "name",
            "keep_tree", "keep_smaller",  "hours",   "jobs",   "report",  "poll"};
        if (!entry.is_object()) Fail(pointer, "each folder is an object, {\"folder\": ...}");
        // A message about the entry as a whole points at its first key.
        const std::string first = entry.empty() ? pointer : pointer + "/" + entry.begin().key();
        for (const auto& [key, value] : entry.items()) {
            if (std::find_if(std::begin(kKeys), std::end(kKeys),
                             [&](const char* known) { return key == known; }) == std::end(kKeys))
                Fail(pointer + "/" + key, "is not a key of a folder");
        }
        TWatchEntry watched;
        watched.Request = common;
        TConvertRequest& request = watched.Request;
        watched.Folder = Text(entry, pointer, "folder", true);
        request.OutputFolder = Text(entry, pointer, "output_folder", true);
        request.Profile = Text(entry, pointer, "profile");
        if (const std::string preset = Text(entry, pointer, "preset"); !preset.empty())
            request.Preset = preset;
        if (request.Profile.empty() && !request.Preset)
            Fail(first, "the folder needs \"profile\" or \"preset\"");
        if (!request.Profile.empty()) {
            try {
                ProfileLineOf(request.Profile);
            } catch (const TUsageError& error) {
                Fail(pointer + "/profile", error.what());
            }
        }
        if (entry.contains("quality")) request.Quality = Text(entry, pointer, "quality");
        if (entry.contains("video_size")) request.VideoSize = Text(entry, pointer, "video_size");
        if (entry.contains("name")) request.Library.Name = Text(entry, pointer, "name");
        request.Library.KeepTree = Text(entry, pointer, "keep_tree");
        request.Report = Text(entry, pointer, "report");
        request.Library.KeepSmaller = Flag(entry, pointer, "keep_smaller");
        watched.Poll = Flag(entry, pointer, "poll");
        if (entry.contains("jobs")) {
            const TJson& jobs = entry["jobs"];
            if (!jobs.is_number_integer() || jobs.get<int>() < 1)
                Fail(pointer + "/jobs", "must be a whole number, 1 or more");
            request.Jobs = jobs.get<int>();
        }
        if (entry.contains("hours")) {
            const std::string hours = Text(entry, pointer, "hours");
            watched.Hours = ParseWatchHours(hours);
            if (!watched.Hours)
                Fail(pointer + "/hours",
                     "\"" + hours + "\" is no range of hours; write it as 22:00-06:00");
        }
        const auto line = lines_.find(first);
        watched.Where = path_ + (line != lines_.end() && line->second > 0
                                     ? ": line " + std::to_string(line->second)
                                     : std::string());
        return watched;
    }

    std::string path_;
    TJson document_;
    std::map<std::string, int> lines_;
};

std::string ClockText(int minutes) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d", minutes / 60, minutes % 60);
    return text;
}

}  // namespace

bool TWatchHours::Contains(int minuteOfDay) const {
    if (From == To) return true;
    if (From < To) return minuteOfDay >= From && minuteOfDay < To;
    return minuteOfDay >= From || minuteOfDay < To;
}

std::string TWatchHours::Text() const {
    return ClockText(From) + "-" + ClockText(To);
}

std::optional<TWatchHours> ParseWatchHours(const std::string& text) {
    int fromHour = -1, fromMinute = -1, toHour = -1, toMinute = -1, used = 0;
    if (std::sscanf(text.c_str(), "%2d:%2d-%2d:%2d%n", &fromHour, &fromMinute, &toHour, &toMinute,
                    &used) != 4 ||
        used != static_cast<int>(text.size()))
        return std::nullopt;
    const auto valid = [](int hour, int minute) {
        return hour >= 0 && minute >= 0 && minute < 60 && (hour < 24 || (hour == 24 && !minute));
    };
    if (!valid(fromHour, fromMinute) || !valid(toHour, toMinute)) return std::nullopt;
    return TWatchHours{fromHour * 60 + fromMinute, (toHour * 60 + toMinute) % (24 * 60)};
}

std::vector<TWatchEntry> ReadWatchConfig(const std::string& path, const TConvertRequest& common) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw TUsageError("--config \"" + path + "\" cannot be read");
    const std::string text(std::istreambuf_iterator<char>(in), {});
    std::map<std::string, int> lines;
    TJson document =
        IsToml(path, text) ? ReadTomlConfig(path, text, lines) : ReadJsonConfig(path, text, lines);
    return TConfigReader(path, std::move(document), std::move(lines)).Entries(common);
}
