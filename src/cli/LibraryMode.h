// Converting a library in place or into a tree of one's own: names from a template, the input's
// folders kept below a root, outputs that are not smaller than their source dropped, and the
// original replaced by its checked conversion (ReplaceOriginal.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliCommands.h"
#include "cli/MediaFacts.h"
#include "cli/OutputTemplate.h"

struct TConvertPlan;

struct TLibraryOptions {
    std::optional<TNameTemplate> Name;
    std::string KeepTreeRoot;  // absolute; empty: every output straight in the output folder
    bool KeepSmaller = false;
    bool ReplaceOriginal = false;
    std::string ArchiveFolder;  // with ReplaceOriginal: the originals go there, not to the trash
    std::string Profile;        // the profile's name, for {profile}
    // A name that cannot be made stops the whole run before anything converts (convert); a
    // watch fails only that file.
    bool StopOnBadName = true;

    bool NamesOutputs() const { return Name || !KeepTreeRoot.empty(); }
};

// The options checked against each other and the plan; throws TUsageError. A watch
// (`watching`) writes into its output folder only, and a name it cannot make fails that file.
TLibraryOptions PlanLibraryMode(const TLibraryRequest& request, const TConvertPlan& plan,
                                const std::string& outputFolder, bool overwrite,
                                bool watching = false);

// The output's path: outputFolder, the input's folders below the root, the template's name (or
// the input's) and the extension; numbered when a file has it unless `overwrite`. Throws
// std::runtime_error when the name is empty, is the input file itself, or the input is not
// below the root.
std::string LibraryOutputName(const TLibraryOptions& options, const TNameFacts& facts,
                              const std::string& outputFolder, const std::string& extension,
                              bool overwrite);

// The facts the name template is filled with.
TNameFacts NameFactsOf(const TMediaFacts& facts, const std::string& profile);

// Before a run: carries on the replacements a stopped run had begun (ReplaceOriginal.h), with a
// line for each, and returns the files without the originals that have now been replaced.
std::vector<std::string> ResumeReplacementsFor(const std::vector<std::string>& files);

// "not smaller: 12.3 MB against 11.9 MB" when the output has at least the source's bytes;
// empty when it is smaller (or a size cannot be read).
std::string NotSmallerReason(std::int64_t outputBytes, std::int64_t sourceBytes);
