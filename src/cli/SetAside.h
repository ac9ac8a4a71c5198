// Where a replaced original goes: the desktop's trash, laid out as the freedesktop.org trash
// does it (a file under files/ and its NAME.trashinfo under info/, in the home trash or, for a
// file on another file system, in that file system's own .Trash-UID), or an archive folder of the
// user's choosing. A place is chosen first and carried out second, so that a journal can hold the
// place in between and a later run can carry it out again.
#pragma once

#include <string>

struct TSetAsidePlace {
    std::string Destination;  // where the file will be
    std::string InfoFile;     // the trash's record of it; empty for an archive folder
    std::string InfoText;
};

// A place in the trash for the file; throws std::runtime_error when there is no trash it can go
// to without a copy.
TSetAsidePlace TrashPlaceFor(const std::string& file);
// A place in the folder: the file's name, numbered when taken.
TSetAsidePlace ArchivePlaceFor(const std::string& file, const std::string& folder);

// Moves the file to its place: a rename on one file system; across file systems a copy into a
// hidden file beside the place, flushed to disk and renamed, and only then the original removed.
// Repeating it after a stop part-way is safe: a trash record or a partial copy an earlier try
// left is written again. Empty on success; otherwise the reason, and the file is where it was.
std::string SetAside(const std::string& file, const TSetAsidePlace& place);

// The home trash: $XDG_DATA_HOME/Trash, or ~/.local/share/Trash.
std::string HomeTrashFolder();
