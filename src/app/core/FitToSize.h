// Fit to size for a described job: the target becomes the job's video and sound bit rates and
// the component's fit fields (SizeFit.h has the arithmetic, FittedRun.cpp the passes).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/core/FileList.h"
#include "app/core/JobDescription.h"

// A target the job cannot meet; the message gives the least target that works.
class TFitError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Sets the job's rates for `targetBytes` from the row's length, the picture written (the job's
// size, else the row's) and its frame rate; the job's encoders and format key are final. A line
// for the row's log says the plan. Throws TFitError without a video stream or a known length,
// and when even the encoders' lowest rates make more than the target ("needs at least N MB").
//
// The fit is a ceiling: when the job already asks for a video rate (a profile of bit rates) and
// the target would give more, the profile's own rates are kept, the job is not fitted and the
// log line says so. Returns whether the job was fitted.
bool FitJobToSize(TJobDescription& job, const TFileListRow& row, int64_t targetBytes,
                  std::vector<std::string>& logLines);

// The source file's size when it is no more than the target, else none (also when it cannot be
// read). A target that holds the whole source asks for more than the source needs: a quality
// encode (or a copy) of it is kept rather than filled up to the target.
std::optional<int64_t> SourceWithinTarget(const std::string& inputFile, int64_t targetBytes);

// The options that cap a quality encode at a video rate, for the encoders whose constant-quality
// mode takes a rate ceiling (x264, x265): "maxrate=N" and a buffer of two seconds. Empty for
// the others.
std::vector<std::string> QualityCapLines(const std::string& encoder, int64_t videoBitrate);
