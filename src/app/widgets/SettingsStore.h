// The user's choices kept between runs, in the per-user settings store: output folder, output
// profile, overwrite, drop-down length and letter box.
#pragma once

class TForm1;
class TForm4;

// Writes the five values from the controls as they stand, in their order. A value that cannot
// be written is not reported.
void SaveSettings(const TForm1& mainForm, const TForm4& options);

// Reads the values into the controls, in order. A missing or mistyped number ends the reading
// (the values read so far stay applied) and the store is rewritten from the controls as they
// then stand, so a first run writes the defaults.
void LoadSettings(TForm1& mainForm, TForm4& options);
