// Target presets: one keyword that sets codecs, format, size, rate and bit rates for a disc or
// tape standard ("vcd", "svcd", "dvd", "dv", "dv50").
#include <cmath>

#include "engine/CustomFFmpeg.h"
#include "engine/OptionText.h"

namespace {

enum class TNorm { PAL, NTSC, FILM };

// A rate in thousandths of a frame per second, rounded; 0 for an unusable rate.
long MilliFrameRate(AVRational rate) {
    if (rate.num <= 0 || rate.den <= 0) return 0;
    return std::lround(rate.num * 1000.0 / rate.den);
}

bool NormOfRate(long milliRate, TNorm& norm) {
    if (milliRate == 25000) {
        norm = TNorm::PAL;
        return true;
    }
    if (milliRate == 29970 || milliRate == 23976) {
        norm = TNorm::NTSC;
        return true;
    }
    return false;
}

// The norm of the first video stream of the inputs whose rate is one of the norms' rates.
bool NormOfInputs(const TInputFile* files, int count, TNorm& norm) {
    for (int i = 0; i < count; ++i) {
        const AVFormatContext* file = files[i].Context.get();
        for (unsigned j = 0; file && j < file->nb_streams; ++j) {
            const AVStream* stream = file->streams[j];
            if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
            if (NormOfRate(MilliFrameRate(stream->r_frame_rate), norm)) return true;
        }
    }
    return false;
}

// The settings of each target, for the norm's picture size (`pal`) and frame rate.
void ApplyVcdTarget(TFFmpegOptions& o, bool pal, const char* frameRate) {
    o.SetVideoCodec("mpeg1video");
    o.SetAudioCodec("mp2");
    o.SetOutputFormat("vcd");
    o.SetFrameSize(pal ? "352x288" : "352x240");
    o.SetFrameRate(frameRate);
    o.SetGenericOption("gop", pal ? "15" : "18");
    o.SetGenericOption("b", "1150000");
    o.SetGenericOption("maxrate", "1150000");
    o.SetGenericOption("minrate", "1150000");
    o.SetGenericOption("bufsize", "327680");
    o.SetGenericOption("ab", "224000");
    o.AudioSampleRate = 44100;
    o.AudioChannels = 2;
    o.SetGenericOption("packetsize", "2324");
    o.SetGenericOption("muxrate", "1411200");
    // The player needs the first audio and video packets early: buffer 0.44 s at most.
    o.MuxPreload = 0.44f;
    if (o.FrameAspectRatio == 0.0f) o.SetFrameAspect("4:3");
}

void ApplySvcdTarget(TFFmpegOptions& o, bool pal, const char* frameRate) {
    o.SetVideoCodec("mpeg2video");
    o.SetAudioCodec("mp2");
    o.SetOutputFormat("svcd");
    o.SetFrameSize(pal ? "480x576" : "480x480");
    o.SetFrameRate(frameRate);
    o.SetGenericOption("gop", pal ? "15" : "18");
    o.SetGenericOption("b", "2040000");
    o.SetGenericOption("maxrate", "2516000");
    o.SetGenericOption("minrate", "0");
    o.SetGenericOption("bufsize", "1835008");
    // The scan-offset flag of 2008 is the MPEG-2 encoder's own "scan_offset" option now.
    o.SetGenericOption("scan_offset", "1");
    o.SetGenericOption("ab", "224000");
    o.AudioSampleRate = 44100;
    o.SetGenericOption("packetsize", "2324");
    if (o.AudioChannels == 1) o.AudioChannels = 2;
    if (o.FrameAspectRatio == 0.0f) o.SetFrameAspect("4:3");
}

void ApplyDvdTarget(TFFmpegOptions& o, bool pal, const char* frameRate) {
    o.SetVideoCodec("mpeg2video");
    o.SetAudioCodec("ac3");
    o.SetOutputFormat("dvd");
    o.SetFrameSize(pal ? "720x576" : "720x480");
    o.SetFrameRate(frameRate);
    o.SetGenericOption("gop", pal ? "15" : "18");
    o.SetGenericOption("b", "6000000");
    o.SetGenericOption("maxrate", "9000000");
    o.SetGenericOption("minrate", "0");
    o.SetGenericOption("bufsize", "1835008");
    o.SetGenericOption("ab", "448000");
    o.AudioSampleRate = 48000;
    if (o.AudioChannels == 1) o.AudioChannels = 2;
    o.SetGenericOption("packetsize", "2048");
    o.SetGenericOption("muxrate", "10080000");
    if (o.FrameAspectRatio == 0.0f) o.SetFrameAspect("16:9");
}

// "dv" and "dv50" differ in their pixel format only.
void ApplyDvTarget(TFFmpegOptions& o, bool pal, const char* frameRate, bool dv50) {
    o.SetOutputFormat("dv");
    o.SetFrameSize(pal ? "720x576" : "720x480");
    o.SetPixelFormat(dv50 ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
    o.SetFrameRate(frameRate);
    o.AudioSampleRate = 48000;
    o.AudioChannels = 2;
}

}  // namespace

void TCustomFFmpeg::SetTarget(const std::string& targetType, const std::string& norm,
                              const std::string& fallbackNorm) {
    TNorm chosen = TNorm::PAL;
    if (norm == "pal") {
        chosen = TNorm::PAL;
    } else if (norm == "ntsc") {
        chosen = TNorm::NTSC;
    } else if (norm == "film") {
        chosen = TNorm::FILM;
    } else {
        // The norm of the frame rate set, then of the first input video stream at such a rate.
        if (FrameRate.den == 0) throw FFMpegException("frame_rate is invalid.");
        const bool decided =
            NormOfRate(std::lround(FrameRate.num * 1000.0 / FrameRate.den), chosen) ||
            NormOfInputs(InputFiles, InputFileCount, chosen);
        if (!decided)
            chosen = fallbackNorm == "film"   ? TNorm::FILM
                     : fallbackNorm == "ntsc" ? TNorm::NTSC
                                              : TNorm::PAL;
        if (Verbose > 0 && OnLog)
            Log(1, "Assuming %s for target.", chosen == TNorm::PAL ? "PAL" : "NTSC");
    }
    const bool pal = chosen == TNorm::PAL;
    const char* frameRate = pal ? "25" : chosen == TNorm::NTSC ? "30000/1001" : "24000/1001";

    if (targetType == "vcd")
        ApplyVcdTarget(*this, pal, frameRate);
    else if (targetType == "svcd")
        ApplySvcdTarget(*this, pal, frameRate);
    else if (targetType == "dvd")
        ApplyDvdTarget(*this, pal, frameRate);
    else if (targetType == "dv" || targetType == "dv50")
        ApplyDvTarget(*this, pal, frameRate, targetType == "dv50");
    else
        throw FFMpegException("Unknown target type");
}

void TCustomFFmpeg::ParseTarget(const std::string& text) {
    const std::string target = TrimText(text);
    std::string norm = "auto";
    std::string type = target;
    for (const char* prefix : {"pal-", "ntsc-", "film-"}) {
        const std::string lead(prefix);
        if (target.starts_with(lead)) {
            norm = lead.substr(0, lead.size() - 1);
            type = target.substr(lead.size());
            break;
        }
    }
    SetTarget(type, norm, "ntsc");
}
