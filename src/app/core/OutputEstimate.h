// The expected size and time of a row's conversion with its job, before it runs: the window's
// rows and `daziziz-cli estimate` show the same. A video rate the job holds its encoder to gives
// the video's size from the length; video whose size follows its content (constant quality,
// copies) and all sound are measured on short pieces of the source converted with the job's
// settings, which also give the time.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "app/core/FileList.h"
#include "app/core/JobDescription.h"
#include "component/SizeEstimate.h"

struct TOutputEstimate {
    int64_t Bytes = 0;
    double Seconds = 0;
    int64_t SourceBytes = -1;  // the input file's, -1 when it cannot be read
    // More than a hundredth over the source: a copy into another container is not counted.
    bool LargerThanSource() const {
        return SourceBytes >= 0 && Bytes > SourceBytes + SourceBytes / 100;
    }
};

// The estimate of the row's job (DescribeJob's); none when `cancel` was set meanwhile. A fitted
// job counts its passes: the profile's own encode first where it is tried (kept when within the
// target), then the fitting passes at the planned rates. Throws std::runtime_error with the
// reason when a piece of the source cannot be converted.
std::optional<TOutputEstimate> EstimateOutput(const TJobDescription& job, const TFileListRow& row,
                                              const TSampleRequest& sampling,
                                              const std::atomic<bool>* cancel = nullptr);

// "1.25 MB" style text of an estimate's size against its source for a row's note: "about 31 MB
// (larger than the source, 24 MB)"; without the remark when it is smaller.
std::string EstimateText(const TOutputEstimate& estimate);
