// The output-format list as the window shows it: today's profiles first, then the 2008
// catalogue under the devices and kinds of file its lines were made for. Lines keep their
// numbers (the settings and `--profile LINE` name them); only the order shown is the window's.
#pragma once

#include <string>
#include <vector>

struct TFormatGroup {
    std::string Heading;     // English; the window shows it translated
    std::vector<int> Lines;  // lines of OutputFormatLines(), each a profile
};

// Every profile line exactly once, today's group first.
std::vector<TFormatGroup> OutputFormatGroups();

// The line a first start selects: the first of today's profiles.
int DefaultOutputFormatLine();
