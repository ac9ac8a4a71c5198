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
        if (FrameRate.den == 0) throw FFMpegException("frame_rate is invalid.");
        bool decided = NormOfRate(std::lround(FrameRate.num * 1000.0 / FrameRate.den), chosen);
        // Then the first input video stream at a rate of one of the norms.
        for (int i = 0; i < InputFileCount && !decided; ++i) {
            AVFormatContext* file = InputFiles[i].Context.get();
            for (unsigned j = 0; file && j < file->nb_streams && !decided; ++j) {
                AVStream* stream = file->streams[j];
                if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
                decided = NormOfRate(MilliFrameRate(stream->r_frame_rate), chosen);
            }
        }
        if (!decided)
            chosen = fallbackNorm == "film"   ? TNorm::FILM
                     : fallbackNorm == "ntsc" ? TNorm::NTSC
                                              : TNorm::PAL;
        if (Verbose > 0 && OnLog)
            Log(1, "Assuming %s for target.", chosen == TNorm::PAL ? "PAL" : "NTSC");
    }
    const bool pal = chosen == TNorm::PAL;
    const char* frameRate = pal ? "25" : chosen == TNorm::NTSC ? "30000/1001" : "24000/1001";

    if (targetType == "vcd") {
        SetVideoCodec("mpeg1video");
        SetAudioCodec("mp2");
        SetOutputFormat("vcd");
        SetFrameSize(pal ? "352x288" : "352x240");
        SetFrameRate(frameRate);
        SetGenericOption("gop", pal ? "15" : "18");
        SetGenericOption("b", "1150000");
        SetGenericOption("maxrate", "1150000");
        SetGenericOption("minrate", "1150000");
        SetGenericOption("bufsize", "327680");
        SetGenericOption("ab", "224000");
        AudioSampleRate = 44100;
        AudioChannels = 2;
        SetGenericOption("packetsize", "2324");
        SetGenericOption("muxrate", "1411200");
        // The player needs the first audio and video packets early: buffer 0.44 s at most.
        MuxPreload = 0.44f;
        if (FrameAspectRatio == 0.0f) SetFrameAspect("4:3");
    } else if (targetType == "svcd") {
        SetVideoCodec("mpeg2video");
        SetAudioCodec("mp2");
        SetOutputFormat("svcd");
        SetFrameSize(pal ? "480x576" : "480x480");
        SetFrameRate(frameRate);
        SetGenericOption("gop", pal ? "15" : "18");
        SetGenericOption("b", "2040000");
        SetGenericOption("maxrate", "2516000");
        SetGenericOption("minrate", "0");
        SetGenericOption("bufsize", "1835008");
        // The scan-offset flag of 2008 is the MPEG-2 encoder's own "scan_offset" option now.
        SetGenericOption("scan_offset", "1");
        SetGenericOption("ab", "224000");
        AudioSampleRate = 44100;
        SetGenericOption("packetsize", "2324");
        if (AudioChannels == 1) AudioChannels = 2;
        if (FrameAspectRatio == 0.0f) SetFrameAspect("4:3");
    } else if (targetType == "dvd") {
        SetVideoCodec("mpeg2video");
        SetAudioCodec("ac3");
        SetOutputFormat("dvd");
        SetFrameSize(pal ? "720x576" : "720x480");
        SetFrameRate(frameRate);
        SetGenericOption("gop", pal ? "15" : "18");
        SetGenericOption("b", "6000000");
        SetGenericOption("maxrate", "9000000");
        SetGenericOption("minrate", "0");
        SetGenericOption("bufsize", "1835008");
        SetGenericOption("ab", "448000");
        AudioSampleRate = 48000;
        if (AudioChannels == 1) AudioChannels = 2;
        SetGenericOption("packetsize", "2048");
        SetGenericOption("muxrate", "10080000");
        if (FrameAspectRatio == 0.0f) SetFrameAspect("16:9");
    } else if (targetType == "dv" || targetType == "dv50") {
        SetOutputFormat("dv");
        SetFrameSize(pal ? "720x576" : "720x480");
        SetPixelFormat(targetType == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
        SetFrameRate(frameRate);
        AudioSampleRate = 48000;
        AudioChannels = 2;
    } else {
        throw FFMpegException("Unknown target type");
    }
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
