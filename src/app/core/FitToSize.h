// Fit to size for a described job: the target becomes the job's video and sound bit rates and
// the component's fit fields (SizeFit.h has the arithmetic, FittedRun.cpp the passes).
#pragma once

#include <cstdint>
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
void FitJobToSize(TJobDescription& job, const TFileListRow& row, int64_t targetBytes,
                  std::vector<std::string>& logLines);
