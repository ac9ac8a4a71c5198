#include "app/core/EntryLookup.h"

#include <cctype>

namespace {

enum class TFit { None, Prefix, WordPrefix, Equal, Exact };

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsWordCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

bool SameLetter(char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
}

// How well the text fits the entry; both are walked with their blanks skipped.
TFit FitOf(const std::string& entry, const std::string& text) {
    if (entry == text) return TFit::Exact;
    std::size_t e = 0, t = 0;
    char lastMatched = 0;
    for (;;) {
        while (t < text.size() && IsBlank(text[t])) ++t;
        if (t == text.size()) break;
        while (e < entry.size() && IsBlank(entry[e])) ++e;
        if (e == entry.size() || !SameLetter(entry[e], text[t])) return TFit::None;
        lastMatched = entry[e];
        ++e;
        ++t;
    }
    if (lastMatched == 0) return TFit::None;  // nothing but blanks was typed
    if (entry.find_first_not_of(" \t", e) == std::string::npos) return TFit::Equal;
    // The word's end is read in the entry as written, blanks included: "200" ends a word in
    // "200 Kbps" but not in "2000 Kbps".
    const bool wordEnds = !IsWordCharacter(lastMatched) || !IsWordCharacter(entry[e]);
    return wordEnds ? TFit::WordPrefix : TFit::Prefix;
}

}  // namespace

TEntryLookup FindEntry(const std::vector<std::string>& entries, const std::string& text) {
    TEntryLookup result;
    if (text.find_first_not_of(" \t") == std::string::npos) return result;
    TFit best = TFit::None;
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        const TFit fit = FitOf(entries[i], text);
        if (fit == TFit::None || fit < best) continue;
        if (fit > best) {
            best = fit;
            result.Candidates.clear();
        }
        result.Candidates.push_back(i);
    }
    if (result.Candidates.size() == 1) {
        result.Index = result.Candidates.front();
        result.Candidates.clear();
    }
    return result;
}
