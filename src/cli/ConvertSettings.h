// What `convert` was asked for, turned into the window's choices: the profile and the entries
// of its lists, as if picked in the window. Every text is checked before anything is converted.
#pragma once

#include <stdexcept>
#include <string>

#include "app/core/JobBuilder.h"
#include "app/core/ProfileCatalogue.h"
#include "cli/CliCommands.h"

// A command line that asks for something that does not exist; the message says what exists.
class TUsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct TConvertPlan {
    int Line = -1;  // the profile's line in the output-format list
    const TOutputProfile* Profile = nullptr;
    TParameterLists Lists;       // the profile's lists with the entries chosen
    TJobSettings Settings;       // what the job builder is given for every file
    bool SplitChapters = false;  // one output per chapter of each file (ChapterSplit.h)
};

// The profile a text names: a line number, its display name, or a unique start of one.
// Throws TUsageError.
int ProfileLineOf(const std::string& text);

// The whole plan; throws TUsageError for any text that does not name an entry. The output
// folder is taken as given (whether it exists is the queue's check); without one, each output
// goes beside its input.
TConvertPlan PlanConversion(const TConvertRequest& request);

// The folder an input's output goes to: the plan's output folder, or the input's own.
std::string OutputFolderFor(const TJobSettings& settings, const std::string& input);
