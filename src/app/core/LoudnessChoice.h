// Loudness normalisation as the user chooses it: off, a target by name or in LUFS, the true-peak
// ceiling, and whether a batch keeps one gain (album). The engine measures and normalises each
// sound stream ("loudness" option, engine/Loudness.h); a batch's one gain comes from the
// loudness of all its files together.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct TLoudnessChoice {
    std::optional<double> Target;  // LUFS; none: off
    double Ceiling = -1;           // dBTP
    bool Album = false;            // the batch gets one gain
    // With Album, once the batch is measured: the gain every file gets (dB).
    std::optional<double> AlbumGain;
    bool operator==(const TLoudnessChoice&) const = default;
};

// The named targets and their loudness: "ebu" -23, "podcast" -16, "streaming" -14.
struct TLoudnessPreset {
    const char* Name;
    double Target;
};
const std::vector<TLoudnessPreset>& LoudnessPresets();

// A target as typed: a preset's name (any case) or a number in LUFS within -70 ... -5. None,
// with `error` saying why, otherwise.
std::optional<double> LoudnessTargetOf(const std::string& text, std::string& error);

// The engine's option line ("loudness=I=-16.0:TP=-1.0", "loudness=gain=-3.2:TP=-1.0"), or empty
// when off. An album choice without its gain yet normalises each file to the target.
std::string LoudnessOptionLine(const TLoudnessChoice& choice);

// One file's measured loudness (LUFS) and how long its sound lasts (s).
struct TMeasuredSound {
    double Integrated = 0;
    double Seconds = 0;
};
// The gain that brings the batch as a whole to `target`: its loudness is the energy of every
// file's, weighted by its length (silent files, at or below -70 LUFS, do not count). None
// without a file that counts.
std::optional<double> AlbumGainFor(const std::vector<TMeasuredSound>& files, double target);
