// The user's choices kept between runs, in the per-user settings store: output folder, output
// profile, overwrite, drop-down length and letter box.
#pragma once

#include "app/core/SettingsKeys.h"

// Writes the five values, in their order. A value that cannot be written is not reported.
void WriteSettings(const TUserSettings& settings);

// Reads the stored values into `settings`, in their order; a negative number leaves its value as
// it was. False at the first missing or mistyped number: the values read so far are in
// `settings`, the others as they were, and the store wants rewriting.
bool ReadSettings(TUserSettings& settings);
