#include "app/core/LoudnessChoice.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "engine/Loudness.h"

const std::vector<TLoudnessPreset>& LoudnessPresets() {
    static const std::vector<TLoudnessPreset> presets = {
        {"ebu", -23}, {"podcast", -16}, {"streaming", -14}};
    return presets;
}

std::optional<double> LoudnessTargetOf(const std::string& text, std::string& error) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const TLoudnessPreset& preset : LoudnessPresets())
        if (lower == preset.Name) return preset.Target;
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, failed] = std::from_chars(text.data(), end, value);
    if (text.empty() || failed != std::errc() || stop != end || !std::isfinite(value)) {
        error = "\"" + text +
                "\" is neither a loudness in LUFS (-23, -16, -14) nor ebu, podcast "
                "or streaming";
        return std::nullopt;
    }
    if (value < kLeastLoudness || value > kMostLoudness) {
        error = "\"" + text + "\" LUFS is outside -70 ... -5";
        return std::nullopt;
    }
    return value;
}

std::string LoudnessOptionLine(const TLoudnessChoice& choice) {
    if (!choice.Target) return "";
    TLoudnessRequest request;
    request.Ceiling = choice.Ceiling;
    if (choice.Album && choice.AlbumGain)
        request.AlbumGain = *choice.AlbumGain;
    else
        request.Target = choice.Target;
    return "loudness=" + LoudnessRequestText(request);
}

std::optional<double> AlbumGainFor(const std::vector<TMeasuredSound>& files, double target) {
    double energy = 0, seconds = 0;
    for (const TMeasuredSound& file : files) {
        if (file.Integrated <= kLeastLoudness || file.Seconds <= 0) continue;
        energy += file.Seconds * std::pow(10.0, file.Integrated / 10);
        seconds += file.Seconds;
    }
    if (seconds <= 0) return std::nullopt;
    return target - 10 * std::log10(energy / seconds);
}
