// The state of a row of the file list.
#pragma once

// Where a row stands. The list's "Progress" column shows it (the percentage while converting),
// translated; the saved queue keeps it by name.
enum class TRowState {
    Waiting,         // not converted in this run (yet)
    Converting,      // the row's Percent is done
    Done,            // converted whole
    DoneWithErrors,  // ran to its end without converting the whole input; Status says why
    Failed,
    Stopped,     // stopped by the user part-way
    Unreadable,  // the probe could not read it: never converted
};
