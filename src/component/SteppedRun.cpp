// Outputs without a bit rate to aim at: a GIF, whose palette is made from the clip in a pass of
// its own before its pictures are mapped to it; and, fitted to a size, a GIF or an animated WebP
// made again with less (colours, frame rate and width; quality, then width) until it fits.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "component/PalettePass.h"
#include "component/SizeFit.h"
#include "component/Task.h"
#include "engine/EngineTypes.h"
#include "engine/LibraryErrors.h"

namespace fs = std::filesystem;

namespace {

// Below these the pictures stop being worth sending: motion stutters, faces blur into blocks.
constexpr double kLeastRate = 8;  // frames a second
constexpr int kLeastWidth = 96;
constexpr int kLeastColours = 32;
constexpr int kLeastQuality = 40;
// Tries after the profile's own output before the fit gives up.
constexpr int kMaxTries = 8;

// What one try makes: the picture's size, frame rate, colours (GIF) or quality (WebP).
struct TStep {
    int Width = 0, Height = 0;
    double Rate = 0;
    std::string RateText;  // as asked ("30000/1001") while the rate is the profile's own
    int Colours = -1;
    int Quality = -1;
};

double RateOf(const std::string& text) {
    int num = 0, den = 1;
    const int read = std::sscanf(text.c_str(), "%d/%d", &num, &den);
    return read >= 1 && num > 0 && den > 0 ? double(num) / den : 0;
}

TStep StepOf(const TOutputOptions& output) {
    TStep step;
    std::sscanf(output.FrameSize.c_str(), "%dx%d", &step.Width, &step.Height);
    step.RateText = output.FrameRate;
    step.Rate = RateOf(output.FrameRate);
    step.Colours = output.PaletteColours;
    step.Quality = output.StepQuality;
    return step;
}

TOutputOptions WithStep(TOutputOptions output, const TStep& step) {
    if (step.Width > 0)
        output.FrameSize = std::to_string(step.Width) + "x" + std::to_string(step.Height);
    if (!step.RateText.empty()) output.FrameRate = step.RateText;
    output.PaletteColours = step.Colours;
    if (step.Quality >= 0) output.OptionText += "quality=" + std::to_string(step.Quality) + "\n";
    output.FitSizeBytes = -1;
    return output;
}

std::string StepText(const TStep& step) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g fps", std::round(step.Rate * 100) / 100);
    std::string text = std::to_string(step.Width) + "x" + std::to_string(step.Height) + ", " + rate;
    if (step.Colours > 0) text += ", " + std::to_string(step.Colours) + " colours";
    if (step.Quality >= 0) text += ", quality " + std::to_string(step.Quality);
    return text;
}

// The width scaled by `factor` (of the picture's area), within kLeastWidth and `largest`; the
// height keeps the shape, both even. What is left of the factor goes back in `factor`.
void ScaleWidth(TStep& step, double& factor, int largest) {
    if (step.Width <= 0 || step.Height <= 0) return;
    const double wanted = step.Width * std::sqrt(factor);
    const int width =
        std::clamp(2 * int(std::lround(wanted / 2)), std::min(kLeastWidth, largest), largest);
    factor /= std::pow(double(width) / step.Width, 2);
    step.Height = std::max(2, 2 * int(std::lround(double(step.Height) * width / step.Width / 2)));
    step.Width = width;
}

// The rate scaled by `factor`, within kLeastRate and `highest`; what is left goes back.
void ScaleRate(TStep& step, double& factor, double highest, const std::string& highestText) {
    if (step.Rate <= 0) return;
    const double rate =
        std::clamp(std::round(step.Rate * factor), std::min(kLeastRate, highest), highest);
    factor /= rate / step.Rate;
    step.Rate = rate;
    step.RateText = rate >= highest ? highestText : std::to_string(int(rate));
}

// The next try from the last one, for a size `factor` times its size. A WebP gives up quality
// first, down to kLeastQuality, a try at a time (how much a step saves depends on the picture).
// Then, as a GIF from the start, frame rate and area alike (the bytes follow pictures a second
// times their area), and a GIF still far off halves its colours. A factor above one (the last
// try was well under the target) gives back area, then rate, up to the profile's own.
TStep NextStep(TStep step, double factor, const TStep& asked) {
    if (factor < 1 && step.Quality > kLeastQuality) {
        step.Quality = std::max(kLeastQuality, int(std::lround(step.Quality * factor)));
        return step;
    }
    if (factor < 1) {
        // Half of the factor from the rate, as far as kLeastRate allows, the rest from the area.
        double rateFactor = std::sqrt(factor);
        ScaleRate(step, rateFactor, asked.Rate, asked.RateText);
        factor = std::sqrt(factor) * rateFactor;
        ScaleWidth(step, factor, asked.Width);
        if (factor < 0.9 && step.Colours > kLeastColours)
            step.Colours = std::max(kLeastColours, step.Colours / 2);
    } else {
        ScaleWidth(step, factor, asked.Width);
        ScaleRate(step, factor, asked.Rate, asked.RateText);
    }
    return step;
}

}  // namespace

int64_t TFFmpeg::RunStep(const TOutputOptions& output, const std::string& unfinished, int number,
                         int passes) {
    TOutputOptions pictures = output;
    if (output.PaletteColours > 0) {
        TPaletteRequest palette;
        palette.InputFile = InputOptions.FileName;
        std::sscanf(output.FrameSize.c_str(), "%dx%d", &palette.Width, &palette.Height);
        palette.FrameRate = RateOf(output.FrameRate);
        palette.Colours = std::clamp(output.PaletteColours, 2, 256);
        palette.PaletteFile = (fs::path(fitFolder_) / "palette.png").string();
        palette.Stopped = [this] { return PausePoint(); };
        try {
            if (!MakePalette(palette)) return -1;
        } catch (const std::runtime_error& error) {
            throw FFMpegException(error.what());
        }
        pictures.OptionText += "palette=" + palette.PaletteFile + "\n";
    }
    pictures.FileName = unfinished;
    std::error_code ignored;
    fs::remove(unfinished, ignored);
    if (RunPass(pictures, number, passes, true) < 0) return -1;
    const int64_t bytes = FileSize(unfinished);
    if (bytes < 0) throw FFMpegException("The pass wrote no file " + unfinished);
    return bytes;
}

void TFFmpeg::RunStepped() {
    const TOutputOptions& asked = OutputOptions;
    const int64_t target = asked.FitSizeBytes;
    const std::string unfinished =
        WorkingNameBeside(asked.FileName, target > 0 ? "fitting" : "converting");
    TUnfinishedOutput cleanup{*this, unfinished};
    const std::string best = WorkingNameBeside(asked.FileName, "fitted");
    TUnfinishedOutput bestCleanup{*this, best};
    lastProgress_ = TProgressInfo{};
    const TStep own = StepOf(asked);
    TStep step = own;
    int64_t bestBytes = -1;
    TStep chosen = step;
    for (int attempt = 0; attempt <= (target > 0 ? kMaxTries : 0); ++attempt) {
        if (target > 0)
            Log(1, "Fit to size %s: try %d, %s", MegabytesText(target).c_str(), attempt + 1,
                StepText(step).c_str());
        const int64_t bytes = RunStep(WithStep(asked, step), unfinished, 1, 1);
        if (bytes < 0) return;
        if (target <= 0 || bytes <= target) {
            if (target > 0)
                Log(1, "Fit to size: %s, %.1f%% of the target", MegabytesText(bytes).c_str(),
                    100.0 * bytes / target);
            if (bytes > bestBytes) {
                fs::rename(unfinished, best);
                bestBytes = bytes;
                chosen = step;
            }
            // The profile's own output within the target is kept: a fit is a ceiling.
            if (target > 0 && attempt == 0)
                Log(1, "Fit to size: the profile's own output is within the target: kept");
            if (target <= 0 || attempt == 0 || bytes >= kFitLeast * target) break;
        } else {
            Log(1, "Fit to size: %s is %.1f%% over the target", MegabytesText(bytes).c_str(),
                100.0 * bytes / target - 100);
        }
        const TStep next = NextStep(step, kFitAim * double(target) / double(bytes), own);
        if (next.Width == step.Width && next.Rate == step.Rate && next.Colours == step.Colours &&
            next.Quality == step.Quality)
            break;
        step = next;
    }
    if (bestBytes < 0)
        throw FFMpegException("Fit to size: the output stays larger than " + MegabytesText(target) +
                              " even at " + StepText(step));
    fs::rename(best, asked.FileName);
    bestCleanup.Kept = true;
    if (target > 0)
        Log(1, "Fit to size: kept %s (%s), %.1f%% of the target", MegabytesText(bestBytes).c_str(),
            StepText(chosen).c_str(), 100.0 * bestBytes / target);
    Completed = true;
}
