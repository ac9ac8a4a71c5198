// Files dropped onto the file list: a dropped file is taken as it is, like a file chosen in the
// open-file dialog; a dropped folder stands for the media files inside it.
#pragma once

#include <string>
#include <vector>

// Whether a file name ends in one of the extensions of the dialog's "All Supported Files"
// filter, compared without regard to case.
bool IsSupportedMediaFile(const std::string& path);

// The files to add for dropped paths, in the order dropped: a file as it is; a folder as the
// supported media files in it and in its subfolders, sorted by path, hidden ones left out;
// anything else (a path that no longer exists) as it is too, so that its row can say what is
// wrong with it. Each file is listed once.
// Subfolders that cannot be read are skipped.
std::vector<std::string> ExpandDroppedPaths(const std::vector<std::string>& paths);
