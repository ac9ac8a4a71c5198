#include "cli/TomlConfig.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <set>
#include <sstream>

#include "cli/ConvertSettings.h"

namespace {

using TJson = nlohmann::ordered_json;

class TTomlReader {
  public:
    TTomlReader(const std::string& path, std::map<std::string, int>& lines)
        : path_(path), lines_(lines) {}

    TJson Read(const std::string& text) {
        document_ = {{"folders", TJson::array()}};
        // A byte order mark, as some editors write, is no part of the first line.
        std::istringstream in(text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text);
        std::string line;
        while (std::getline(in, line)) {
            ++number_;
            text_ = line;
            at_ = 0;
            SkipBlanks();
            if (Ended()) continue;
            if (text_[at_] == '[') {
                Table();
            } else {
                KeyValue();
            }
        }
        if (document_["folders"].empty())
            throw TUsageError(path_ + ": no folder; begin each with [[folder]]");
        return document_;
    }

  private:
    [[noreturn]] void Fail(const std::string& message, const std::string& key = {}) const {
        throw TUsageError(path_ + ": line " + std::to_string(number_) +
                          (key.empty() ? ": " : ", key \"" + key + "\": ") + message);
    }

    bool Ended() const { return at_ >= text_.size() || text_[at_] == '#'; }

    void SkipBlanks() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r'))
            ++at_;
    }

    void Expect(char wanted, const std::string& key = {}) {
        SkipBlanks();
        if (at_ >= text_.size() || text_[at_] != wanted)
            Fail(std::string("\"") + wanted + "\" expected", key);
        ++at_;
    }

    void LineEnds(const std::string& key = {}) {
        SkipBlanks();
        if (!Ended()) Fail("unexpected \"" + text_.substr(at_) + "\" after the value", key);
    }

    // A bare key (letters, digits, "_" and "-") or a quoted one.
    std::string Key() {
        SkipBlanks();
        if (at_ < text_.size() && (text_[at_] == '"' || text_[at_] == '\'')) return Text({});
        const std::size_t start = at_;
        while (at_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[at_])) ||
                                      text_[at_] == '_' || text_[at_] == '-'))
            ++at_;
        if (at_ == start) Fail("a key expected, such as folder = \"/srv/in\"");
        return text_.substr(start, at_ - start);
    }

    // "[[folder]]" or "[folder.NAME]": a new folder from here on.
    void Table() {
        const bool list = text_.compare(at_, 2, "[[") == 0;
        at_ += list ? 2 : 1;
        const std::string name = Key();
        const bool folderName = name == "folder" || (list && name == "folders");
        SkipBlanks();
        if (!folderName || (!list && (at_ >= text_.size() || text_[at_] != '.')))
            Fail("the tables of the file are [[folder]] or [folder.NAME]");
        std::string label;
        if (!list) {
            Expect('.');
            label = Key();
        }
        Expect(']');
        if (list) Expect(']');
        LineEnds();
        if (!list && !labels_.insert(label).second)
            Fail("the table [folder." + label + "] is given twice");
        TJson& folders = document_["folders"];
        folders.push_back(TJson::object());
        folder_ = "/folders/" + std::to_string(folders.size() - 1);
        lines_[folder_] = number_;
    }

    void KeyValue() {
        const std::string key = Key();
        Expect('=', key);
        SkipBlanks();
        TJson value = Value(key);
        LineEnds(key);
        if (folder_.empty()) Fail("keys belong to a folder: begin it with [[folder]]", key);
        TJson& folder = document_["folders"].back();
        if (folder.contains(key)) Fail("is given twice in this folder", key);
        folder[key] = std::move(value);
        lines_[folder_ + "/" + key] = number_;
    }

    TJson Value(const std::string& key) {
        if (at_ >= text_.size()) Fail("a value expected", key);
        const char first = text_[at_];
        if (first == '"' || first == '\'') return Text(key);
        if (first == '[') return TextList(key);
        for (const bool truth : {true, false}) {
            const std::string word = truth ? "true" : "false";
            if (text_.compare(at_, word.size(), word) == 0) {
                at_ += word.size();
                return truth;
            }
        }
        return WholeNumber(key);
    }

    TJson WholeNumber(const std::string& key) {
        std::string digits;
        std::size_t end = at_;
        if (end < text_.size() && (text_[end] == '+' || text_[end] == '-')) digits += text_[end++];
        while (end < text_.size() && (std::isdigit(static_cast<unsigned char>(text_[end])) ||
                                      (text_[end] == '_' && digits.size() > 0)))
            if (text_[end++] != '_') digits += text_[end - 1];
        if (digits.empty() || digits == "+" || digits == "-" ||
            (end < text_.size() && !std::isspace(static_cast<unsigned char>(text_[end])) &&
             text_[end] != '#' && text_[end] != ',' && text_[end] != ']'))
            Fail(
                "is no value this file takes: a text in quotes, a whole number, true or false, "
                "or a list of texts",
                key);
        at_ = end;
        try {
            return std::stoll(digits);
        } catch (const std::exception&) {
            Fail("the number is too large", key);
        }
    }

    // "..." with the escapes \" \\ \t \n \r \uXXXX, or '...' as it stands.
    std::string Text(const std::string& key) {
        const char quote = text_[at_++];
        std::string text;
        while (at_ < text_.size() && text_[at_] != quote) {
            const char c = text_[at_++];
            if (c != '\\' || quote == '\'') {
                text += c;
                continue;
            }
            Escape(text, key);
        }
        if (at_ >= text_.size()) Fail("the text has no closing quote", key);
        ++at_;
        return text;
    }

    void Escape(std::string& text, const std::string& key) {
        if (at_ >= text_.size()) Fail("the text has no closing quote", key);
        const char c = text_[at_++];
        switch (c) {
            case '"':
            case '\\':
                text += c;
                return;
            case 't':
                text += '\t';
                return;
            case 'n':
                text += '\n';
                return;
            case 'r':
                text += '\r';
                return;
            case 'u':
                break;
            default:
                Fail(std::string("\\") + c + " is no escape of a text", key);
        }
        unsigned code = 0;
        if (at_ + 4 > text_.size() || std::sscanf(text_.substr(at_, 4).c_str(), "%4x", &code) != 1)
            Fail("\\u takes four hexadecimal digits", key);
        at_ += 4;
        // As UTF-8.
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xE0 | (code >> 12));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    TJson TextList(const std::string& key) {
        ++at_;
        TJson list = TJson::array();
        for (;;) {
            SkipBlanks();
            if (at_ < text_.size() && text_[at_] == ']') break;
            if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\''))
                Fail("a list holds texts in quotes on one line: [\"a\", \"b\"]", key);
            list.push_back(Text(key));
            SkipBlanks();
            if (at_ < text_.size() && text_[at_] == ',')
                ++at_;
            else if (at_ >= text_.size() || text_[at_] != ']')
                Fail("\",\" or \"]\" expected", key);
        }
        ++at_;
        return list;
    }

    std::string path_;
    std::map<std::string, int>& lines_;
    TJson document_;
    std::set<std::string> labels_;
    std::string folder_;  // the pointer of the folder being read
    std::string text_;    // the line being read
    std::size_t at_ = 0;
    int number_ = 0;
};

}  // namespace

nlohmann::ordered_json ReadTomlConfig(const std::string& path, const std::string& text,
                                      std::map<std::string, int>& lines) {
    return TTomlReader(path, lines).Read(text);
}
