#include "support/Ffprobe.h"

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

namespace {

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// ffprobe prints most numbers as strings; absent fields keep the fallback.
template <typename T>
T Number(const nlohmann::json& object, const char* key, T fallback) {
    const auto it = object.find(key);
    if (it == object.end()) return fallback;
    if (it->is_number()) return it->get<T>();
    if (!it->is_string()) return fallback;
    try {
        return T(std::stod(it->get<std::string>()));
    } catch (const std::exception&) {
        return fallback;
    }
}

std::string Text(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// "30000/1001" as a rational; "0/0" and anything unreadable stay {0, 1}.
AVRational Rate(const nlohmann::json& object, const char* key) {
    int num = 0, den = 0;
    if (std::sscanf(Text(object, key).c_str(), "%d/%d", &num, &den) == 2 && den > 0)
        return AVRational{num, den};
    return AVRational{0, 1};
}

}  // namespace

const TProbedStream* TProbedFile::First(const std::string& codecType) const {
    for (const TProbedStream& s : streams)
        if (s.codecType == codecType) return &s;
    return nullptr;
}

nlohmann::json FfprobeJson(const std::string& arguments, const std::string& path) {
    const std::string command = "ffprobe -v error -print_format json " + arguments + " " +
                                ShellQuoted(path) + " 2>/dev/null";
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return nlohmann::json();
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
        output.append(buffer, n);
    return nlohmann::json::parse(output, nullptr, false);
}

TProbedFile RunFfprobe(const std::string& path, bool countPackets, bool countFrames) {
    TProbedFile result;
    std::string arguments = "-show_error -show_format -show_streams";
    if (countPackets) arguments += " -count_packets";
    if (countFrames) arguments += " -count_frames";
    const nlohmann::json json = FfprobeJson(arguments, path);
    if (json.is_discarded() || !json.is_object()) {
        result.error = "ffprobe gave no readable answer for " + path;
        return result;
    }
    if (json.contains("error")) {
        result.error = Text(json["error"], "string");
        return result;
    }
    if (!json.contains("format")) {
        result.error = "ffprobe found no format in " + path;
        return result;
    }
    const nlohmann::json& format = json["format"];
    result.formatName = Text(format, "format_name");
    result.duration = Number(format, "duration", -1.0);
    result.size = Number<int64_t>(format, "size", 0);
    result.bitRate = Number<int64_t>(format, "bit_rate", 0);
    for (const nlohmann::json& s : json.value("streams", nlohmann::json::array())) {
        TProbedStream& stream = result.streams.emplace_back();
        stream.codecType = Text(s, "codec_type");
        stream.codecName = Text(s, "codec_name");
        stream.codecTag = Text(s, "codec_tag_string");
        stream.profile = Text(s, "profile");
        stream.width = Number(s, "width", 0);
        stream.height = Number(s, "height", 0);
        stream.frameRate = Rate(s, "r_frame_rate");
        stream.avgFrameRate = Rate(s, "avg_frame_rate");
        stream.sampleRate = Number(s, "sample_rate", 0);
        stream.channels = Number(s, "channels", 0);
        stream.duration = Number(s, "duration", -1.0);
        stream.packets = Number<int64_t>(s, "nb_read_packets", -1);
        stream.frames = Number<int64_t>(s, "nb_read_frames", -1);
        stream.pixelFormat = Text(s, "pix_fmt");
        stream.sampleFormat = Text(s, "sample_fmt");
        stream.bitRate = Number<int64_t>(s, "bit_rate", 0);
    }
    result.ok = true;
    return result;
}
