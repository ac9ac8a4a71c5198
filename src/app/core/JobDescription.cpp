#include "app/core/JobDescription.h"

std::string TJobDescription::FrameRateText() const {
    if (!FrameRate) return {};
    return std::to_string(FrameRate->Num) + "/" + std::to_string(FrameRate->Den);
}
