// Loading the media libraries for a command, from the same place the window loads them.
#pragma once

#include <string>

// "<the program's folder>/Common Files": libraries found there are used; the others come from
// the system's ordinary search.
std::string LibraryFolder();

// Loads the libraries by their versioned names. On failure prints why on standard error and
// returns false.
bool LoadMediaLibraries();
