// Finding a list entry from a text a user typed rather than picked: the entry itself, or enough
// of its start to tell it from the others. "320x240" finds "320 x 240 (VGA)", "mono" finds
// "Mono", "200" finds "200 Kbps" and not "2000 Kbps".
#pragma once

#include <string>
#include <vector>

struct TEntryLookup {
    int Index = -1;  // the entry found, -1 when none or several fit
    // When several fit equally well: their indices, in list order. Empty when none fits.
    std::vector<int> Candidates;

    bool Found() const { return Index >= 0; }
};

// Compares without regard to case or blanks. The first of these rules that some entries meet
// decides, and it must be met by exactly one entry:
//   1. the entry is exactly the text (blanks and case included);
//   2. the entry is the text;
//   3. the text is the start of the entry up to the end of a word (the entry goes on with a
//      character that is not a letter or digit, or the text ends in one);
//   4. the text is the start of the entry.
// An empty text (or one of blanks only) finds nothing.
TEntryLookup FindEntry(const std::vector<std::string>& entries, const std::string& text);
