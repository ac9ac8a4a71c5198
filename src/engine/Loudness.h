// Loudness normalisation of a re-encoded sound stream, in two passes: the first decodes the sound
// of the input alone and measures it (libavfilter's ebur128: integrated loudness, loudness range,
// true peak); the second runs the stream's sound graph with one linear gain when that reaches
// the target without the true peak passing the ceiling, else with loudnorm in its dynamic mode
// given the measured figures. Loudness in LUFS, gains and ranges in dB (LU), peaks in dBTP.
#pragma once

#include <optional>
#include <string>

// What the "loudness" option asks for: "I=-16:TP=-1" (a target), or "gain=-3.5:TP=-1" (a batch's
// one gain: the output's loudness is the measured one plus the gain, as for an album).
struct TLoudnessRequest {
    std::optional<double> Target;  // LUFS
    double AlbumGain = 0;          // dB, without a target
    double Ceiling = -1;           // dBTP
};

// The sane range of targets and ceilings, as the option and the command line check them.
inline constexpr double kLeastLoudness = -70, kMostLoudness = -5;
inline constexpr double kLeastCeiling = -9, kMostCeiling = 0;

// Throws FFMpegException naming what is wrong with the text.
TLoudnessRequest ParseLoudnessRequest(const std::string& text);
// The option's text for a request (numbers with "." whatever the locale).
std::string LoudnessRequestText(const TLoudnessRequest& request);

struct TLoudnessFigures {
    double Integrated = -70;  // LUFS; -70 or less: nothing above the silence gate
    double Range = 0;         // LU
    double TruePeak = -144;   // dBTP, the loudest channel's
    double Seconds = 0;       // sound measured
};

// The first pass: the sound of stream `streamIndex` of `file` (-1: the default audio stream,
// else the one with most channels) decoded and measured as the output hears it, mixed to
// `channels` channels as the sound graph mixes them (0: as it is). Throws FFMpegException naming
// the file and the failed step; a file without sound is such a failure.
TLoudnessFigures MeasureLoudness(const std::string& file, int streamIndex, int channels);

// The second pass's filters for the sound graph, to run on the source's sound before its rate
// and channels are converted, and the line for the log.
struct TLoudnessPlan {
    std::string Filters;     // ending in ","; empty: the sound is left as it is
    bool Upsamples = false;  // loudnorm works at 192 kHz: the graph resamples back after it
    std::string Note;        // "loudness: -34.8 LUFS, peak -12.1 dBTP; linear gain +18.8 dB"
    double GainDb = 0;       // the linear gain, or loudnorm's aim less the measured loudness
};

// `headroom` (dB) keeps the peak that far below the ceiling before a lossy encoder, whose
// decoded output overshoots the peaks it was given.
TLoudnessPlan PlanLoudness(const TLoudnessRequest& request, const TLoudnessFigures& figures,
                           double headroom);

// Numbers for the log and the options: "-34.8", "+18.8" with `sign`.
std::string LoudnessNumber(double value, bool sign = false);
