#include "cli/OutputFacts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "binding/FFmpegLibs.h"
#include "component/Task.h"
#include "probe/AVProbe.h"

namespace {

std::string SecondsText(std::int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", static_cast<double>(us) / 1e6);
    return text;
}

}  // namespace

TOutputFacts ReadOutputFacts(TAVProbe& probe, const std::string& path) {
    TOutputFacts facts;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return facts;
    facts.Exists = true;
    const auto bytes = std::filesystem::file_size(path, error);
    if (!error) facts.Bytes = static_cast<std::int64_t>(bytes);
    if (!probe.LoadFile(path)) {
        facts.Error = probe.LastErrorText();
        return facts;
    }
    facts.Opens = true;
    TAVFileInfo info;
    probe.GetFileInfo(info);
    facts.DurationUs = info.Duration;
    probe.CloseFile();
    return facts;
}

std::string IncompleteReason(const TOutputFacts& output, std::int64_t sourceDurationUs) {
    if (!output.Exists) return "there is no output";
    if (!output.Opens) return "the output does not open: " + output.Error;
    if (output.DurationUs <= 0) return "the output does not tell its length";
    if (sourceDurationUs <= 0) return {};
    const std::int64_t tolerance = LengthToleranceUs(sourceDurationUs);
    if (std::llabs(output.DurationUs - sourceDurationUs) > tolerance) {
        return "the output lasts " + SecondsText(output.DurationUs) + ", its source " +
               SecondsText(sourceDurationUs);
    }
    return {};
}

bool ReadsAsComplete(const TOutputFacts& output, std::int64_t sourceDurationUs) {
    return IncompleteReason(output, sourceDurationUs).empty();
}

std::string HardwareOutputFault(const std::string& path) {
    AVFormatContext* opened = nullptr;
    if (LibAVFormat.avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0)
        return "the output does not open";
    std::string fault = "the output has no video";
    if (LibAVFormat.avformat_find_stream_info(opened, nullptr) >= 0) {
        for (unsigned i = 0; i < opened->nb_streams; ++i) {
            const AVCodecParameters* video = opened->streams[i]->codecpar;
            if (video->codec_type != AVMEDIA_TYPE_VIDEO) continue;
            const bool needsHeader =
                video->codec_id == AV_CODEC_ID_H264 || video->codec_id == AV_CODEC_ID_HEVC;
            fault = needsHeader && video->extradata_size <= 0
                        ? "the output's video has no sequence header"
                        : "";
            break;
        }
    }
    LibAVFormat.avformat_close_input(&opened);
    return fault;
}
