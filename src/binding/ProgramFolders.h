// Where the program finds its own files at run time. In the build folder they lie beside the
// program (help.html, translations/, framehooks/); after installation they lie in the
// installed data and library folders, found relative to the program's own folder so that an
// installation moved to another prefix still finds them.
#pragma once

#include <string>
#include <vector>

enum class TProgramFiles {
    Data,        // help.html, translations/: share/daziziz after installation
    FrameHooks,  // frame-hook modules: lib/daziziz/framehooks after installation
};

// The folder of the running program's file, symbolic links resolved; empty when the system
// does not tell.
std::string ProgramFolder();

// The folders that may hold the program's files of a kind, the build folder's layout first.
std::vector<std::string> ProgramFileFolders(TProgramFiles kind,
                                            const std::string& programFolder = ProgramFolder());

// The path of the first file called name in those folders; empty when none holds it.
std::string FindProgramFile(TProgramFiles kind, const std::string& name,
                            const std::string& programFolder = ProgramFolder());
