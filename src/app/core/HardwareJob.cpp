#include "app/core/HardwareJob.h"

#include <algorithm>

#include "app/core/ProfileCatalogue.h"
#include "app/core/TodaysEncoding.h"

std::string HardwareUnsuitableReason(const TJobDescription& job) {
    if (job.DisableVideo || job.VideoCodec.empty() || job.VideoCodec == "copy")
        return "no video is encoded";
    if (job.FitSizeBytes > 0) return "fit to size encodes in two passes, in software";
    return "";
}

void UseHardwareEncoder(TJobDescription& job, const std::string& encoder,
                        const std::string& quality, const std::string& device) {
    const std::string step = quality.empty() ? "Standard" : quality;
    const auto& steps = QualityEntries();
    const int index = static_cast<int>(std::find(steps.begin(), steps.end(), step) - steps.begin());
    std::vector<std::string> softwareLines = SpeedOptionLines(job.VideoCodec);
    for (const std::string& line : QualitySettingFor(job.VideoCodec, step).OptionLines)
        softwareLines.push_back(line);
    auto& lines = job.OptionLines;
    std::erase_if(lines, [&](const std::string& line) {
        return line.starts_with("pix_fmt=") ||
               std::find(softwareLines.begin(), softwareLines.end(), line) != softwareLines.end();
    });
    lines.push_back("pix_fmt=nv12");
    if (job.VideoBitrate <= 0) {
        for (const THardwareOption& option : HardwareQualityOptions(encoder, index))
            lines.push_back(option.Name + "=" + option.Value);
    }
    if (encoder.ends_with("_vaapi") && !device.empty()) lines.push_back("hwdevice=" + device);
    job.VideoCodec = encoder;
}
