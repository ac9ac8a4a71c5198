// Parts of a file list for several machines or processes: each file belongs to one part, chosen
// by a hash of its path alone, so every worker that is given the same list takes a disjoint
// share of it without talking to the others, and adding files to the list moves none of the
// files already there to another part.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TShard {
    int Index = 1;  // 1 ... Count
    int Count = 1;
};

// "I/N" with 1 <= I <= N. Throws TUsageError naming what is wrong.
TShard ParseShard(const std::string& text);

// FNV-1a (64 bits) of the path in its lexically normal form ("./a//b.avi" is "a/b.avi"): the
// same on every machine and every run, whatever the standard library's own hash does.
std::uint64_t StablePathHash(const std::string& path);

// The files of the part, in their given order.
std::vector<std::string> FilesOfShard(const std::vector<std::string>& files, const TShard& shard);
