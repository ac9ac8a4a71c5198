// What the fuzz targets share: loading the libraries once, silently, and a scratch folder where
// each input is written as a file (the probe and the engine open files by name).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Loads the libraries with their log lines silenced; aborts when they cannot be loaded.
void LoadLibrariesForFuzzing();

// Writes the input into the process's scratch folder, under an extension picked by the first
// byte (the demuxers look at the name too); the rest of the input is the file's content.
// Returns the file's path.
std::string WriteInputFile(const uint8_t* data, size_t size);

// The process's scratch folder (created on first use, under $TMPDIR).
const std::string& ScratchFolder();

// A broken invariant: says which and aborts, so that the fuzzer keeps the input that broke it.
#define FUZZ_EXPECT(condition)                                                 \
    do {                                                                       \
        if (!(condition)) FuzzInvariantBroken(#condition, __FILE__, __LINE__); \
    } while (false)
[[noreturn]] void FuzzInvariantBroken(const char* condition, const char* file, int line);

// True when ffprobe opens the file and reads its streams without an error.
bool FfprobeReads(const std::string& path);
