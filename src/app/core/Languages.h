// Language codes as files and users give them: two letters (ISO 639-1, "de") or three
// (ISO 639-2, bibliographic "ger" or terminological "deu"), in any case.
#pragma once

#include <optional>
#include <string>

struct TLanguage {
    std::string Code;  // the three letters a container stores: ISO 639-2/B ("ger")
    std::string Name;  // "German"
};

// The language a code names; none for a text that is no ISO 639 code.
std::optional<TLanguage> FindLanguage(const std::string& code);

// "German (ger)" for a known code; the code as given otherwise.
std::string LanguageText(const std::string& code);
