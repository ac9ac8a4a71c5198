// Replacing an original by its conversion, so that a kill at any moment leaves the original or
// the checked output in place, never neither. Each step is kept in a journal, a small JSON file
// per original under $XDG_STATE_HOME/daziziz/replacing (~/.local/state when unset), written
// atomically at each change of state:
//   converting   the output is being written; a stop leaves it unchecked: it is removed
//   checking     the output is complete and is being checked (OutputCheck.h)
//   setting-aside  it passed; the original goes to its place (recorded) in the trash or archive
//   naming       the original is away; the output takes the original's name, new extension
// The journal goes once the step is over. The next run carries a step it finds to its end, or
// back to the start where the output was never checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TReplaceRequest {
    std::string Original;
    std::string Output;  // the conversion's output, beside the original
    std::int64_t SourceDurationUs = -1;
    std::string ArchiveFolder;  // empty: the trash
};

struct TReplaceOutcome {
    bool Replaced = false;
    std::string Output;  // where the output is now (none when it was removed)
    std::string Fault;   // why the original was kept; empty when replaced
    std::string Note;    // said beside a replacement (a name that was taken)
};

// The journal of a conversion that is about to write its output; false (with the reason) when
// it cannot be written, and then nothing may start.
bool BeginReplacement(const TReplaceRequest& request, std::string& error);
// The conversion ended without an output to check (failed or stopped): its journal goes.
void DropReplacement(const std::string& original);
// The step after a complete conversion: check, set the original aside, rename.
TReplaceOutcome ReplaceOriginal(const TReplaceRequest& request);

struct TResumedReplacement {
    std::string Original;
    TReplaceOutcome Outcome;
    bool Undone = false;  // the output was never checked: it was removed, the original kept
};
// Carries every step a journal holds to its end (or back), oldest first.
std::vector<TResumedReplacement> ResumeReplacements();

// $XDG_STATE_HOME/daziziz/replacing.
std::string ReplacementJournalFolder();
