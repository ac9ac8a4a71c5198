// The output file's name: the input's name in the output folder, with the profile's extension.
#pragma once

#include <set>
#include <string>

// "." and the format key in lower case ("MP4" gives ".mp4").
std::string OutputExtension(const std::string& formatKey);

// The path with its extension replaced by the given one when no file of that name exists;
// otherwise the first free name of base + "-" + N + extension, N = 1, 2, 3, ... ("clip.avi" with
// "clip.mp4" and "clip-1.mp4" present gives "clip-2.mp4").
std::string UniqueOutputName(const std::string& path, const std::string& extension);

// Names that tasks of one batch already write (or read), in NormalOutputPath's spelling.
using TClaimedNames = std::set<std::string>;
// A path in one spelling, so that two names of the same place compare equal.
std::string NormalOutputPath(const std::string& path);

// The path itself when no earlier task of the batch claimed it (whether it exists was decided
// by ChooseOutputName), else the first numbered name "NAME-N.ext" in its folder that is neither
// claimed nor present on disk, NAME being the input's own name: an output is written under a
// working name until it is complete, so a name numbered already is not on disk yet. A dangling
// link is present: writing through it would create a file elsewhere.
std::string UnclaimedOutputName(const std::string& path, const std::string& inputFile,
                                const TClaimedNames& claimed);

struct TOutputName {
    std::string Path;
    std::string LogLine;  // why the name differs from the one asked for; empty when it does not
};

// The output path for an input file. With overwrite, folder/name.ext is used even when it
// exists, except when that is the input file itself: writing it would destroy the source while
// it is read, so the numbered name is used and LogLine says so. Without overwrite, the numbered
// name of UniqueOutputName.
TOutputName ChooseOutputName(const std::string& inputFile, const std::string& outputFolder,
                             const std::string& formatKey, bool overwrite);
