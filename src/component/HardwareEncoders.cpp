#include "component/HardwareEncoders.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "binding/FFmpegLibs.h"
#include "component/LogCapture.h"

namespace {

// The hardware encoders of the libraries the program knows how to drive, by device.
struct TKnownEncoder {
    const char* Name;
    THardwareApi Api;
};
constexpr TKnownEncoder kKnownEncoders[] = {
    {"h264_vaapi", THardwareApi::Vaapi}, {"hevc_vaapi", THardwareApi::Vaapi},
    {"vp9_vaapi", THardwareApi::Vaapi},  {"av1_vaapi", THardwareApi::Vaapi},
    {"h264_nvenc", THardwareApi::Nvenc}, {"hevc_nvenc", THardwareApi::Nvenc},
    {"h264_qsv", THardwareApi::Qsv},     {"hevc_qsv", THardwareApi::Qsv},
};
constexpr THardwareApi kApis[] = {THardwareApi::Vaapi, THardwareApi::Nvenc, THardwareApi::Qsv};

AVHWDeviceType DeviceTypeOf(THardwareApi api) {
    switch (api) {
        case THardwareApi::Vaapi:
            return AV_HWDEVICE_TYPE_VAAPI;
        case THardwareApi::Nvenc:
            return AV_HWDEVICE_TYPE_CUDA;
        case THardwareApi::Qsv:
            return AV_HWDEVICE_TYPE_QSV;
    }
    return AV_HWDEVICE_TYPE_NONE;
}

AVPixelFormat FramesFormatOf(THardwareApi api) {
    switch (api) {
        case THardwareApi::Vaapi:
            return AV_PIX_FMT_VAAPI;
        case THardwareApi::Nvenc:
            return AV_PIX_FMT_CUDA;
        case THardwareApi::Qsv:
            return AV_PIX_FMT_QSV;
    }
    return AV_PIX_FMT_NONE;
}

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    LibAVUtil.av_strerror(code, text, sizeof text);
    return text;
}

// The libraries' log lines of the thread that creates it (the drivers' own messages reach the
// log through the hardware contexts), for as long as it lives.
class TThreadLog final : public TLogSink {
  public:
    TThreadLog() : threadId_(CurrentThreadId()) {
        InstallLibraryLogCallback();
        RegisterLogSink(this);
    }
    ~TThreadLog() { UnregisterLogSink(this); }
    TThreadLog(const TThreadLog&) = delete;
    TThreadLog& operator=(const TThreadLog&) = delete;

    void RouteLogLine(uint32_t threadId, int, const std::string& tagged) override {
        if (threadId != threadId_) return;
        // "[AVHWDeviceContext @ 0x...] text": the object's address says nothing to a user.
        std::string line = tagged;
        while (line.starts_with("[") && line.find(']') != std::string::npos)
            line.erase(0, line.find(']') + 1);
        while (line.starts_with(" ")) line.erase(0, 1);
        if (line.empty()) return;
        std::lock_guard lock(mutex_);
        if (std::find(lines_.begin(), lines_.end(), line) == lines_.end()) lines_.push_back(line);
    }
    // The lines so far, joined with "; ", and forgets them.
    std::string Take() {
        std::lock_guard lock(mutex_);
        std::string joined;
        for (const std::string& line : lines_) joined += (joined.empty() ? "" : "; ") + line;
        lines_.clear();
        return joined;
    }

  private:
    uint32_t threadId_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// "what: error (the driver's words)".
std::string Explain(const std::string& what, int code, TThreadLog& log) {
    std::string reason = what + ": " + ErrorText(code);
    const std::string said = log.Take();
    if (!said.empty()) reason += " (" + said + ")";
    return reason;
}

// Runs `work` on a thread of its own and waits at most `limit`. A driver that hangs keeps its
// thread (detached; it owns what it holds) and the caller gets the time-out as the reason.
std::string RunWithTimeLimit(std::function<std::string()> work, std::chrono::milliseconds limit,
                             const std::string& what) {
    struct TShared {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::string reason;
    };
    auto shared = std::make_shared<TShared>();
    std::thread worker([shared, work = std::move(work)] {
        std::string reason;
        try {
            reason = work();
        } catch (const std::exception& error) {
            reason = error.what();
        }
        std::lock_guard lock(shared->mutex);
        shared->reason = std::move(reason);
        shared->finished = true;
        shared->done.notify_all();
    });
    std::unique_lock lock(shared->mutex);
    if (!shared->done.wait_for(lock, limit, [&] { return shared->finished; })) {
        worker.detach();
        return what + " did not finish within " + std::to_string(limit.count() / 1000) +
               " s (the driver hangs)";
    }
    lock.unlock();
    worker.join();
    return shared->reason;
}

struct TBufferUnref {
    void operator()(AVBufferRef* buffer) const { LibAVUtil.av_buffer_unref(&buffer); }
};
using TBuffer = std::unique_ptr<AVBufferRef, TBufferUnref>;
struct TFrameFree {
    void operator()(AVFrame* frame) const { LibAVUtil.av_frame_free(&frame); }
};
using TFrame = std::unique_ptr<AVFrame, TFrameFree>;
struct TCodecFree {
    void operator()(AVCodecContext* context) const { LibAVCodec.avcodec_free_context(&context); }
};
struct TPacketFree {
    void operator()(AVPacket* packet) const { LibAVCodec.av_packet_free(&packet); }
};

constexpr int kTestSize = 256;

// A mid-grey NV12 picture put into a frame of the device's pool.
int UploadTestFrame(AVBufferRef* frames, TFrame& hardwareFrame) {
    TFrame picture(LibAVUtil.av_frame_alloc());
    hardwareFrame.reset(LibAVUtil.av_frame_alloc());
    if (!picture || !hardwareFrame) return AVERROR(ENOMEM);
    picture->format = AV_PIX_FMT_NV12;
    picture->width = picture->height = kTestSize;
    if (int error = LibAVUtil.av_frame_get_buffer(picture.get(), 0); error < 0) return error;
    for (int plane = 0; plane < 2; ++plane)
        for (int row = 0; row < kTestSize >> plane; ++row)
            std::memset(picture->data[plane] + row * picture->linesize[plane], 128, kTestSize);
    if (int error = LibAVUtil.av_hwframe_get_buffer(frames, hardwareFrame.get(), 0); error < 0)
        return error;
    return LibAVUtil.av_hwframe_transfer_data(hardwareFrame.get(), picture.get(), 0);
}

// One frame through the encoder on the device; empty when a packet came out, else why not.
std::string EncodeOneFrame(AVBufferRef* device, THardwareApi api, const AVCodec* codec) {
    TThreadLog log;
    TBuffer frames(LibAVUtil.av_hwframe_ctx_alloc(device));
    if (!frames) return "no frame pool on the device";
    auto* pool = reinterpret_cast<AVHWFramesContext*>(frames->data);
    pool->format = FramesFormatOf(api);
    pool->sw_format = AV_PIX_FMT_NV12;
    pool->width = pool->height = kTestSize;
    pool->initial_pool_size = 4;
    if (int error = LibAVUtil.av_hwframe_ctx_init(frames.get()); error < 0)
        return Explain("the device refused 8-bit 4:2:0 frames", error, log);
    TFrame frame;
    if (int error = UploadTestFrame(frames.get(), frame); error < 0)
        return Explain("a picture could not be sent to the device", error, log);

    std::unique_ptr<AVCodecContext, TCodecFree> context(LibAVCodec.avcodec_alloc_context3(codec));
    if (!context) return "out of memory";
    context->width = context->height = kTestSize;
    context->pix_fmt = FramesFormatOf(api);
    context->time_base = {1, 25};
    context->framerate = {25, 1};
    context->hw_frames_ctx = LibAVUtil.av_buffer_ref(frames.get());
    if (int error = LibAVCodec.avcodec_open2(context.get(), codec, nullptr); error < 0)
        return Explain("the encoder did not open (profile not offered?)", error, log);
    std::unique_ptr<AVPacket, TPacketFree> packet(LibAVCodec.av_packet_alloc());
    if (int error = LibAVCodec.avcodec_send_frame(context.get(), frame.get()); error < 0)
        return Explain("the first frame was refused", error, log);
    LibAVCodec.avcodec_send_frame(context.get(), nullptr);
    const int error = LibAVCodec.avcodec_receive_packet(context.get(), packet.get());
    if (error < 0) return Explain("no packet came out of the first frame", error, log);
    return "";
}

// The device of one kind, opened under the time limit; the reference is set when it opened.
THardwareDevice OpenDevice(THardwareApi api, const std::string& path,
                           std::chrono::milliseconds limit, TBuffer& opened) {
    THardwareDevice device{api, path, false, ""};
    auto result = std::make_shared<AVBufferRef*>(nullptr);
    device.Reason = RunWithTimeLimit(
        [api, path, result]() -> std::string {
            TThreadLog log;
            const int error = LibAVUtil.av_hwdevice_ctx_create(
                result.get(), DeviceTypeOf(api), path.empty() ? nullptr : path.c_str(), nullptr, 0);
            if (error < 0)
                return Explain(std::string("the ") + HardwareApiName(api) +
                                   " driver did not open " +
                                   (path.empty() ? std::string("a device") : path),
                               error, log);
            return "";
        },
        limit, std::string("opening the ") + HardwareApiName(api) + " device");
    // A device that opened after its time ran out stays with its detached thread.
    if (device.Reason.empty()) opened.reset(*result);
    device.Opened = device.Reason.empty();
    return device;
}

}  // namespace

const char* HardwareApiName(THardwareApi api) {
    switch (api) {
        case THardwareApi::Vaapi:
            return "vaapi";
        case THardwareApi::Nvenc:
            return "nvenc";
        case THardwareApi::Qsv:
            return "qsv";
    }
    return "";
}

const THardwareEncoder* THardwareSurvey::Find(const std::string& name) const {
    for (const THardwareEncoder& encoder : Encoders)
        if (encoder.Name == name) return &encoder;
    return nullptr;
}

std::vector<std::string> FindRenderNodes() {
    std::vector<std::string> nodes;
    if (const char* chosen = std::getenv("DAZIZIZ_RENDER_NODES")) {
        std::string list = chosen;
        for (size_t start = 0; start <= list.size();) {
            size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            if (end > start) nodes.push_back(list.substr(start, end - start));
            start = end + 1;
        }
        return nodes;
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", error))
        if (entry.path().filename().string().starts_with("renderD"))
            nodes.push_back(entry.path().string());
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

namespace {
// What is wrong with the driver LIBVA_DRIVER_NAME names, where libva would look for it (its
// default folder is Debian's for amd64); empty when it is not set or the file is there.
std::string VaapiDriverProblem() {
    const char* name = std::getenv("LIBVA_DRIVER_NAME");
    if (!name || !*name) return "";
    const char* path = std::getenv("LIBVA_DRIVERS_PATH");
    const std::string folders = path && *path ? path : "/usr/lib/x86_64-linux-gnu/dri";
    const std::string file = std::string(name) + "_drv_video.so";
    std::error_code error;
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        if (std::filesystem::exists(folders.substr(start, end - start) + "/" + file, error))
            return "";
        start = end + 1;
    }
    return "LIBVA_DRIVER_NAME names the driver \"" + std::string(name) + "\", but " + file +
           " is not in " + folders;
}
}  // namespace

THardwareSurvey SurveyHardwareEncoders(const THardwareSurveySettings& settings) {
    THardwareSurvey survey;
    std::vector<std::string> nodes =
        settings.RenderNodes.empty() ? FindRenderNodes() : settings.RenderNodes;
    TBuffer devices[std::size(kApis)];
    for (size_t index = 0; index < std::size(kApis); ++index) {
        const THardwareApi api = kApis[index];
        if (api != THardwareApi::Vaapi) {
            survey.Devices.push_back(OpenDevice(api, "", settings.TimeLimit, devices[index]));
            continue;
        }
        const std::string driverProblem = VaapiDriverProblem();
        if (nodes.empty())
            survey.Devices.push_back(
                {api, "", false,
                 "no render device (no /dev/dri/renderD*)" +
                     (driverProblem.empty() ? std::string() : "; " + driverProblem)});
        // The first render node the driver opens serves; the others are still listed.
        for (const std::string& node : nodes) {
            TBuffer device;
            survey.Devices.push_back(OpenDevice(api, node, settings.TimeLimit, device));
            if (!driverProblem.empty() && !device)
                survey.Devices.back().Reason = driverProblem + "; " + survey.Devices.back().Reason;
            if (device && !devices[index]) devices[index] = std::move(device);
        }
    }
    for (const TKnownEncoder& known : kKnownEncoders) {
        THardwareEncoder encoder{known.Name, known.Api, "", false, ""};
        const AVCodec* codec = LibAVCodec.avcodec_find_encoder_by_name(known.Name);
        const size_t index = std::find(std::begin(kApis), std::end(kApis), known.Api) - kApis;
        if (!codec) {
            encoder.Reason = "encoder missing from these libraries";
        } else if (!devices[index]) {
            encoder.Format = LibAVCodec.avcodec_get_name(codec->id);
            for (const THardwareDevice& device : survey.Devices)
                if (device.Api == known.Api) encoder.Reason = device.Reason;
        } else {
            encoder.Format = LibAVCodec.avcodec_get_name(codec->id);
            // The attempt holds its own reference: one that hangs outlives this survey.
            std::shared_ptr<AVBufferRef> device(LibAVUtil.av_buffer_ref(devices[index].get()),
                                                TBufferUnref());
            encoder.Reason = RunWithTimeLimit(
                [device, known, codec] { return EncodeOneFrame(device.get(), known.Api, codec); },
                settings.TimeLimit, "the one-frame test encode");
            encoder.Available = encoder.Reason.empty();
            if (encoder.Available) encoder.Reason = "one frame encoded";
        }
        survey.Encoders.push_back(std::move(encoder));
    }
    // A device whose test encode hung stays referenced by its detached thread.
    return survey;
}

namespace {
struct TProgramSurvey {
    std::once_flag started;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    THardwareSurvey survey;
};
TProgramSurvey& ProgramSurvey() {
    static TProgramSurvey* survey = new TProgramSurvey;  // outlives a worker still running
    return *survey;
}
}  // namespace

void StartHardwareSurvey() {
    TProgramSurvey& program = ProgramSurvey();
    std::call_once(program.started, [&program] {
        std::thread([&program] {
            THardwareSurvey survey = SurveyHardwareEncoders({});
            std::lock_guard lock(program.mutex);
            program.survey = std::move(survey);
            program.finished = true;
            program.done.notify_all();
        }).detach();
    });
}

const THardwareSurvey& WaitForHardwareSurvey() {
    StartHardwareSurvey();
    TProgramSurvey& program = ProgramSurvey();
    std::unique_lock lock(program.mutex);
    program.done.wait(lock, [&program] { return program.finished; });
    return program.survey;
}

const THardwareSurvey* HardwareSurveyIfReady() {
    TProgramSurvey& program = ProgramSurvey();
    std::lock_guard lock(program.mutex);
    return program.finished ? &program.survey : nullptr;
}

std::optional<THardwareMode> ParseHardwareMode(const std::string& text) {
    for (THardwareMode mode : {THardwareMode::Off, THardwareMode::Auto, THardwareMode::Vaapi,
                               THardwareMode::Nvenc, THardwareMode::Qsv})
        if (text == HardwareModeName(mode)) return mode;
    return std::nullopt;
}

const char* HardwareModeName(THardwareMode mode) {
    switch (mode) {
        case THardwareMode::Off:
            return "off";
        case THardwareMode::Auto:
            return "auto";
        case THardwareMode::Vaapi:
            return "vaapi";
        case THardwareMode::Nvenc:
            return "nvenc";
        case THardwareMode::Qsv:
            return "qsv";
    }
    return "";
}

THardwareChoice ChooseHardwareEncoder(const THardwareSurvey& survey, THardwareMode mode,
                                      const std::string& softwareEncoder) {
    if (mode == THardwareMode::Off) return {};
    const bool demanded = mode != THardwareMode::Auto;
    const AVCodec* software = LibAVCodec.avcodec_find_encoder_by_name(softwareEncoder.c_str());
    const std::string format = software ? LibAVCodec.avcodec_get_name(software->id) : "";
    if (format != "h264" && format != "hevc" && format != "vp9" && format != "av1")
        return {"", demanded,
                "no hardware encoder for " + (format.empty() ? softwareEncoder : format) +
                    " (only H.264, H.265, VP9 and AV1)"};
    std::string reasons;
    for (const THardwareEncoder& encoder : survey.Encoders) {
        if (encoder.Format != format) continue;
        if (demanded && HardwareApiName(encoder.Api) != std::string(HardwareModeName(mode)))
            continue;
        if (encoder.Available) return {encoder.Name, false, ""};
        reasons += (reasons.empty() ? "" : "; ") + encoder.Name + ": " + encoder.Reason;
    }
    if (reasons.empty())
        reasons = std::string("no ") + (demanded ? HardwareModeName(mode) : "hardware") +
                  " encoder for " + format + " in these libraries";
    if (demanded)
        return {"", true,
                std::string("--hardware ") + HardwareModeName(mode) + " demanded, but no " +
                    HardwareModeName(mode) + " encoder for " + format + " works: " + reasons};
    return {"", false, "software encoder used: " + reasons};
}

std::vector<THardwareOption> HardwareQualityOptions(const std::string& encoder, int qualityStep) {
    const int step = std::clamp(qualityStep, 0, 3);
    const bool hevc = encoder.starts_with("hevc");
    // Per step, from "Very high" to "Small". H.265 holds the same look at a few steps more.
    constexpr int kVaapiQp[] = {20, 23, 26, 30};
    constexpr int kNvencCq[] = {19, 23, 27, 31};
    constexpr int kQsvQuality[] = {18, 22, 25, 29};
    const int more = hevc ? 2 : 0;
    if (encoder.ends_with("_vaapi")) {
        // VP9 and AV1 count their quantiser on a 0-255 scale.
        const bool wide = encoder.starts_with("vp9") || encoder.starts_with("av1");
        const int qp = wide ? kVaapiQp[step] * 4 : kVaapiQp[step] + more;
        return {{"rc_mode", "CQP"}, {"global_quality", std::to_string(qp)}};
    }
    if (encoder.ends_with("_nvenc"))
        return {{"rc", "vbr"}, {"cq", std::to_string(kNvencCq[step] + more)}, {"b", "0"}};
    if (encoder.ends_with("_qsv"))
        return {{"global_quality", std::to_string(kQsvQuality[step] + more)}};
    return {};
}

std::vector<std::string> DescribeHardwareSurvey(const THardwareSurvey& survey) {
    std::vector<std::string> lines;
    for (const THardwareEncoder& encoder : survey.Encoders)
        lines.push_back(encoder.Name + "\t" + (encoder.Available ? "available" : "not available") +
                        "\t" + encoder.Reason);
    return lines;
}
