// Hardware encoders: which of the libraries' hardware encoders work on this machine, why the
// others do not, and which one a conversion uses.
//
// Devices are reached only through libavutil's hardware contexts (av_hwdevice_ctx_create and
// hardware frame pools); nothing links the drivers. Each encoder is tried with a one-frame
// encode under a time limit, so a driver that hangs costs the limit and no more.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

enum class THardwareApi { Vaapi, Nvenc, Qsv };

// "vaapi", "nvenc", "qsv".
const char* HardwareApiName(THardwareApi api);

struct THardwareDevice {
    THardwareApi Api = THardwareApi::Vaapi;
    std::string Path;     // the render node tried (VAAPI), else empty
    bool Opened = false;  // the driver opened it
    std::string Reason;   // why not, with the driver's own words where it gave any
};

struct THardwareEncoder {
    std::string Name;  // "h264_vaapi"
    THardwareApi Api = THardwareApi::Vaapi;
    std::string Format;  // the codec's own name: "h264", "hevc", "vp9", "av1"
    bool Available = false;
    std::string Reason;  // why not; when available, where the test frame was encoded
};

struct THardwareSurvey {
    std::vector<THardwareDevice> Devices;
    std::vector<THardwareEncoder> Encoders;

    // The encoder of that name, or nullptr.
    const THardwareEncoder* Find(const std::string& name) const;
};

struct THardwareSurveySettings {
    // VAAPI render nodes to try, in order; empty: FindRenderNodes().
    std::vector<std::string> RenderNodes;
    // The longest a one-frame test encode (device opening included) may take.
    std::chrono::milliseconds TimeLimit{8000};
};

// The render nodes VAAPI may use: DAZIZIZ_RENDER_NODES (paths separated by ':') when set, so a
// stand-in device or one of several chips can be chosen; else /dev/dri/renderD*, sorted.
std::vector<std::string> FindRenderNodes();

// Opens each kind of device once and tries a one-frame encode with each hardware encoder the
// list knows (libraries loaded). Blocks for as long as that takes (a time limit per attempt).
THardwareSurvey SurveyHardwareEncoders(const THardwareSurveySettings& settings);

// The program's survey: the first call starts it on a worker thread; the result is kept while
// the program runs. WaitForHardwareSurvey starts it too if nobody has.
void StartHardwareSurvey();
const THardwareSurvey& WaitForHardwareSurvey();
// The survey when it has finished, else nullptr; never blocks.
const THardwareSurvey* HardwareSurveyIfReady();

// What a conversion asks for: "off" (the default), "auto", or one kind of device.
enum class THardwareMode { Off, Auto, Vaapi, Nvenc, Qsv };
std::optional<THardwareMode> ParseHardwareMode(const std::string& text);
const char* HardwareModeName(THardwareMode mode);

// The outcome for one video stream.
struct THardwareChoice {
    std::string Encoder;   // the hardware encoder to use; empty: the software one
    bool Refused = false;  // an explicit demand that cannot be met: the file fails
    std::string Reason;    // why software (or why refused); empty when hardware or off
};

// softwareEncoder: what the profile would use (e.g. "libx264"); its codec decides which
// hardware encoders can stand in. Hardware is used only for H.264, H.265, VP9 and AV1.
THardwareChoice ChooseHardwareEncoder(const THardwareSurvey& survey, THardwareMode mode,
                                      const std::string& softwareEncoder);

// An encoder option: name and value as av_opt_set takes them.
struct THardwareOption {
    std::string Name, Value;
};
// The rate control of a hardware encoder for a quality step of today's profiles (0 "Very
// high", 1 "High", 2 "Standard", 3 "Small"): constant QP with global_quality for VAAPI, constant
// quality (cq) for NVENC, ICQ's global_quality for Quick Sync.
std::vector<THardwareOption> HardwareQualityOptions(const std::string& encoder, int qualityStep);

// One line per encoder as `daziziz-cli encoders` and the Options dialog show them:
// "h264_vaapi\tavailable\tone frame encoded on /dev/dri/renderD128" or "...\tnot available\t...".
std::vector<std::string> DescribeHardwareSurvey(const THardwareSurvey& survey);
