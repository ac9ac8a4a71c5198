// The job builder: turns the next checked row of the file list and the window's choices into one
// conversion task and starts it. Conversions run strictly one at a time, in list order.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/core/ConversionQueue.h"
#include "app/core/FileList.h"
#include "app/core/JobDescription.h"
#include "app/core/LoudnessChoice.h"
#include "app/core/OutputNames.h"
#include "app/core/ParameterReaders.h"
#include "app/core/ProfileCatalogue.h"
#include "app/core/TimeRanges.h"
#include "app/core/TrackChoice.h"

// The window's choices that a job is built from.
struct TJobSettings {
    std::string OutputFolder;
    bool SameFolderAsInput = false;  // each output beside its input; OutputFolder is not used
    bool Overwrite = false;
    std::string FormatKey;
    TParameterReader Reader = TParameterReader::prGeneric;
    TParameterChoice Parameters;
    int AspectIndex = 0;     // 0 "Original", 1 "4:3 (Standard", 2 "16:9 (Wide Screen)"
    int LetterBoxIndex = 0;  // 0 "None", 1 "LetterBox"
    int Volume = 255;        // see VolumeForPosition
    // Today's profiles copy a source stream that already fits (StreamCopy.h); true encodes
    // every stream again.
    bool Reencode = false;
    // The black bars every sampled picture has are cropped (BlackBars.h); nothing is copied then.
    bool CropBlackBars = false;
    // Fit to size: the largest output in bytes for video profiles (FitToSize.h); 0 none. Nothing
    // is copied then: the plan needs every stream's rate.
    int64_t FitSizeBytes = 0;
    // The parts of each file converted, in order, joined (TimeRanges.h); empty: the whole file.
    // An exact cut encodes every stream again; a keyframe cut keeps the profile's copies.
    std::vector<TTimeRange> Ranges;
    TCutMode Cut = TCutMode::Exact;
    // The sound and subtitle tracks asked for (TrackChoice.h); by default the file's own sound
    // track and every subtitle track and file the output holds.
    TTrackRequest Tracks;
    // Loudness normalisation (LoudnessChoice.h); it replaces the volume step.
    TLoudnessChoice Loudness;
};

// The volume sent with each task for a position 0 ... 10 of the volume slider (256 would be
// unchanged, but "100%" has always sent 255), and the slider's label ("100%").
int VolumeForPosition(int position);
std::string VolumeLabel(int position);
inline constexpr int kDefaultVolumePosition = 5;

// The "aspect" text: index 1 gives "4:3", 2 gives "16:9", 0 ("Original") the ratio of a
// "WxH" size text rounded to four decimals ("640x480" gives "1.3333", "720x576" gives "1.25");
// an empty size counts as 640x480, one that is not two numbers gives "1.3333". The decimal
// separator is always ".", which the engine reads. Other indices give "" (not set).
std::string AspectText(int aspectIndex, const std::string& sizeText);

// A letter box: the picture scaled to fit inside the chosen frame, and the even bands around it.
struct TLetterBox {
    int PictureWidth = 0;
    int PictureHeight = 0;
    int Top = 0;
    int Bottom = 0;
    int Left = 0;
    int Right = 0;
};
// The letter box for a picture of the input's size in a frame of the chosen size; none when the
// two have the same shape, when a size is unknown or not positive, or the frame is odd.
std::optional<TLetterBox> LetterBoxFor(int inputWidth, int inputHeight, int frameWidth,
                                       int frameHeight);

// Describes the conversion of one row: input, output name, the reader's fields, volume, aspect
// and letter box. With the libraries loaded, the codecs are encoders they have and every value
// one that encoder takes (EncoderFit.h). Notes to log go to logLines, the substitutions among
// them. Throws TParameterError for lists whose texts do not give their numbers, TEncoderError
// for a job no encoder of the libraries writes.
TJobDescription DescribeJob(const TFileListRow& row, const TJobSettings& settings,
                            std::vector<std::string>& logLines);

// The converter component's task operations as the builder uses them. Index results are the
// task's position, -1 on failure; LastErrorText says why.
class TTaskRunner {
  public:
    virtual ~TTaskRunner() = default;
    virtual void ClearTasks() = 0;
    virtual int AppendTask(const TJobDescription& job) = 0;
    virtual bool SetTaskOutput(int index, const TJobDescription& job) = 0;
    virtual void DeleteTask(int index) = 0;
    virtual void StartTasks(int parallelCount) = 0;  // may throw
    virtual void StopTasks() = 0;
    virtual std::string LastErrorText() const = 0;
};

// One row's task added to the runner, as every way of converting adds it: the job described,
// its output given a name no earlier task of the batch claimed (and claimed for it), the task
// appended and given its output. On failure Task is -1, Reason says why, Threw tells a job that
// could not be described or added from a refusal of the runner, and nothing of the row is left
// in the runner. Job is set once the job is described, so that a failure can name its output.
// `adjust`, when given, changes the described job before it is named (and may throw to refuse
// it).
struct TRowTask {
    std::optional<TJobDescription> Job;
    int Task = -1;
    std::string Reason;
    bool Threw = false;
};
TRowTask AddRowTask(const TFileListRow& row, const TJobSettings& settings, TTaskRunner& runner,
                    TClaimedNames& claimed, std::vector<std::string>& notes,
                    const std::function<void(TJobDescription&)>& adjust = {});

enum class TBuildOutcome {
    boStarted,      // the row's task runs
    boNoRowLeft,    // no checked row was left: nothing runs; the timer reports completion
    boRowFailed,    // the row shows "Fail"; the timer moves on (or reports completion)
    boStartFailed,  // the task could not be started: the queue has stopped; enable the controls
};

struct TBuildResult {
    TBuildOutcome Outcome = TBuildOutcome::boNoRowLeft;
    int Row = -1;
    std::optional<TJobDescription> Job;
    std::vector<std::string> LogLines;
    std::string Message;  // a message box to show (caption "Information"), or empty
};

// One call of the builder: the queue's next checked row becomes the one task of the runner.
// Called by Convert after TConversionQueue::Start and on each taBuildNext of the queue timer.
// The row's OutputFile names the output.
TBuildResult BuildNextTask(TFileList& list, TConversionQueue& queue, const TJobSettings& settings,
                           TTaskRunner& runner);

// Several files at once: every runnable checked row becomes a task of the runner, in list order,
// so that the component runs them `parallelCount` at a time. A row that cannot be described or
// added shows "Fail" with its reason and gets no task. Two rows whose outputs would share a name
// get numbered names, as they would one after another. TaskRows maps each task to its row.
struct TBatchResult {
    std::vector<int> TaskRows;
    std::vector<std::string> LogLines;
    std::vector<int> FailedRows;
};
TBatchResult BuildAllTasks(TFileList& list, const TJobSettings& settings, TTaskRunner& runner);
