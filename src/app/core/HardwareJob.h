// A job of today's profiles moved from its software video encoder to a hardware one, and back.
#pragma once

#include <string>

#include "app/core/JobDescription.h"
#include "component/HardwareEncoders.h"

// Whether a job could hand its video to a hardware encoder at all: video that is encoded (not
// copied), in one pass (fit to size counts its passes in software). Empty when it can, else why.
std::string HardwareUnsuitableReason(const TJobDescription& job);

// Replaces the job's software video encoder with `encoder` (a name of the survey): the software
// encoder's speed and quality lines give way to the hardware encoder's own rate control for the
// same quality step ("Very high" ... "Small"; empty counts as "Standard"), and its pictures are
// given as NV12, the format every device takes. A bit rate the job sets stays in force.
// `device`: the VAAPI render node to open (empty: the driver's first).
void UseHardwareEncoder(TJobDescription& job, const std::string& encoder,
                        const std::string& quality, const std::string& device);
