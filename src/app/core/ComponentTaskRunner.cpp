#include "app/core/ComponentTaskRunner.h"

#include "app/core/CodecMapping.h"

TInputOptions InputOptionsOf(const TJobDescription& job) {
    TInputOptions options;
    InitInputOptions(options);
    options.FileName = job.InputFile;
    options.StartTime = job.StartTime;
    return options;
}

TOutputOptions OutputOptionsOf(const TJobDescription& job) {
    TOutputOptions options;
    InitOutputOptions(options);
    options.FileName = job.OutputFile;
    for (const std::string& line : job.OptionLines) options.OptionText += line + "\n";
    if (!job.Loudness.empty()) options.OptionText += job.Loudness + "\n";
    for (const std::string& line : job.StreamLines) options.StreamOptionText += line + "\n";
    options.VideoCodec = job.VideoCodec;
    options.AudioCodec = job.AudioCodec;
    options.FrameSize = job.FrameSize;
    options.FrameRate = job.FrameRateText();
    options.FrameAspect = job.FrameAspect;
    options.AudioChannels = job.AudioChannels;
    options.AudioSampleRate = job.AudioSampleRate;
    options.AudioBitrate = job.AudioBitrate;
    options.VideoBitrate = job.VideoBitrate;
    options.AudioVolume = job.AudioVolume;
    options.DisableVideo = job.DisableVideo;
    options.PadTop = job.PadTop;
    options.PadBottom = job.PadBottom;
    options.PadLeft = job.PadLeft;
    options.PadRight = job.PadRight;
    options.PadColor = job.PadColor;
    options.FitSizeBytes = job.FitSizeBytes;
    options.PaletteColours = job.PaletteColours;
    options.StepQuality = job.StepQuality;
    if (job.Unfitted && job.FitSizeBytes > 0)
        options.Unfitted = std::make_shared<const TOutputOptions>(OutputOptionsOf(*job.Unfitted));
    return options;
}

int TComponentTaskRunner::AppendTask(const TJobDescription& job) {
    TInputOptions options = InputOptionsOf(job);
    const int index = component_.AppendTask(job.InputFile, &options);
    for (const TMoreInput& more : job.MoreInputs) {
        if (index < 0) break;
        TInputOptions moreOptions = options;
        moreOptions.FileName = more.File;
        for (const std::string& line : more.OptionLines) moreOptions.OptionText += line + "\n";
        if (!component_.AddTaskInput(index, more.File, &moreOptions)) {
            // The reason stays in LastErrorText; no half-made task is left.
            component_.DeleteTask(index);
            return -1;
        }
    }
    return index;
}

bool TComponentTaskRunner::SetTaskOutput(int index, const TJobDescription& job) {
    TOutputOptions options = OutputOptionsOf(job);
    return component_.SetTaskOutput(index, job.OutputFile, &options);
}

void RelayProgress(TFFmpegVCL& component, TTaskProgressHandler handler) {
    component.OnProgress = [handler = std::move(handler)](int AIndex, int AFrameNumber, int AFPS,
                                                          int ACurrentDuration, float AQuality,
                                                          float ABitRate, int64_t ACurrentSize,
                                                          int ATotalOutputDuration) {
        TProgressInfo progress;
        progress.FrameNumber = AFrameNumber;
        progress.FPS = AFPS;
        progress.CurrentDuration = ACurrentDuration;
        progress.Quality = AQuality;
        progress.BitRate = ABitRate;
        progress.CurrentSize = ACurrentSize;
        progress.TotalOutputDuration = ATotalOutputDuration;
        handler(AIndex, progress);
    };
}
