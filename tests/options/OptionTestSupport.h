// An option layer with its templates allocated and its log recorded, and a fixture that gives
// every test a fresh one and puts the libraries' log level back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "binding/FFmpegLibs.h"
#include "binding/LibHandles.h"
#include "engine/FFmpegOptions.h"
#include "support/LogRecorder.h"
#include "support/TempDir.h"

class TTestOptions : public TFFmpegOptions {
  public:
    TTestOptions() { AllocateOptionContexts(); }
    ~TTestOptions() override { FreeOptionState(); }

    std::vector<TLogLine> Log;

    using TFFmpegOptions::AllocateOptionContexts;
    using TFFmpegOptions::ApplyOptionDefaults;
    using TFFmpegOptions::ClearAudioStreamOptions;
    using TFFmpegOptions::ClearInputScopedOptions;
    using TFFmpegOptions::ClearOutputScopedOptions;
    using TFFmpegOptions::ClearSubtitleStreamOptions;
    using TFFmpegOptions::ClearVideoStreamOptions;
    using TFFmpegOptions::FreeOptionState;

  protected:
    void DoLog(int level, const std::string& text) override { Log.push_back({level, text}); }
};

// Every option field as text, so that a test can tell whether anything changed.
inline std::string DescribeOptionState(const TFFmpegOptions& o) {
    std::ostringstream s;
    s.precision(9);
    s << "scales:";
    for (const auto& file : o.InputTimeScales)
        for (double scale : file)
            if (scale != 0.0) s << scale << ",";
    s << " inputs:" << o.InputFileCount << " outputs:" << o.OutputFileCount;
    s << " maps:" << o.StreamMapCount << "[";
    for (const TStreamMap& m : o.StreamMaps)
        s << m.FileIndex << "." << m.StreamIndex << ":" << m.SyncFileIndex << "."
          << m.SyncStreamIndex << " ";
    s << "] metamaps:" << o.MetaDataMapCount << "[";
    for (const TMetaDataMap& m : o.MetaDataMaps) s << m.OutFile << ":" << m.InFile << " ";
    s << "] formats:" << o.ForcedInputFormat << "," << o.ForcedOutputFormat;
    s << " size:" << o.FrameWidth << "x" << o.FrameHeight << " aspect:" << o.FrameAspectRatio
      << " pixfmt:" << o.FramePixelFormat;
    s << " pad:" << o.PadTop << "," << o.PadBottom << "," << o.PadLeft << "," << o.PadRight;
    s << " padcolor:" << o.PadColor[0] << "," << o.PadColor[1] << "," << o.PadColor[2];
    s << " crop:" << o.CropTop << "," << o.CropBottom << "," << o.CropLeft << "," << o.CropRight;
    s << " limits:" << o.FrameLimits[0] << "," << o.FrameLimits[1] << "," << o.FrameLimits[2] << ","
      << o.FrameLimits[3];
    s << " rate:" << o.FrameRate.num << "/" << o.FrameRate.den
      << " qscale:" << o.VideoQuantiserScale;
    s << " intra:";
    for (uint16_t c : o.IntraMatrix) s << c << ",";
    s << " inter:";
    for (uint16_t c : o.InterMatrix) s << c << ",";
    s << " rc:" << o.RateControlOverride;
    s << " video:" << o.VideoDisabled << "," << o.VideoDiscard << "," << o.VideoCodecName << ","
      << o.HardwareDevice << "," << o.VideoCodecTag << "," << o.SameQuality << "," << o.Deinterlace
      << "," << o.NoAutoRotate << "," << o.PaletteFile << "," << o.TopFieldFirst << ","
      << o.MotionEstimationThreshold << "," << o.IntraDcPrecision << "," << o.LoopInput << ","
      << o.LoopOutput << "," << o.QpHistogram << "," << o.IntraOnly;
    s << " audio:" << o.AudioSampleRate << "," << o.AudioQuantiserScale << "," << o.AudioDisabled
      << "," << o.AudioChannels << "," << o.AudioCodecName << "," << o.AudioCodecTag << ","
      << o.AudioLanguage << "," << o.AudioDisposition << "," << o.Loudness;
    s << " subtitle:" << o.SubtitleDisabled << "," << o.SubtitleCodecName << ","
      << o.SubtitleLanguage << "," << o.SubtitleDisposition;
    s << " mux:" << o.MuxPreload << "," << o.MuxMaxDelay;
    s << " times:" << o.RecordingTime << "," << o.StartTime << "," << o.RecordingTimestamp << ","
      << o.InputTimeOffset;
    for (const auto& [start, end] : o.TrimRanges) s << " trim:" << start << "-" << end;
    s << " meta:" << o.Title << "|" << o.Author << "|" << o.Copyright << "|" << o.Comment << "|"
      << o.Genre << "|" << o.Album << "|" << o.Year << "|" << o.Track;
    s << " flags:" << o.HexDump << o.PacketDump << o.Psnr << " pass:" << o.Pass << ","
      << o.PassLogFileName;
    s << " copy:" << o.AudioStreamCopy << o.VideoStreamCopy << o.SubtitleStreamCopy;
    s << " sync:" << o.VideoSyncMethod << "," << o.AudioSyncMethod << "," << o.AudioDriftThreshold
      << "," << o.CopyTimestamps << "," << o.Shortest << "," << o.VideoGlobalHeader;
    s << " vstats:" << o.VideoStatsFileName << "," << o.VideoStatsFile;
    s << " misc:" << o.ProgramId << "," << o.RateEmulation << "," << o.VideoChannel << ","
      << o.VideoStandard << "," << o.AudioVolume << "," << o.FrameHooksInUse << "," << o.Verbose
      << "," << o.ThreadCount << "," << o.InputSync << "," << o.FileSizeLimit << ","
      << o.ImageSequenceCompat << "," << o.TimestampJumpThreshold << "," << o.ScalerFlags;
    s << " names:";
    for (const std::string& name : o.OptionNames) s << name << ",";
    s << " hooks:" << o.FrameHooks << " duration:" << o.SourceDurationMs;
    return s.str();
}

class OptionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RequireMediaLibraries();
        if (HasFatalFailure()) return;
        previousLibraryLevel_ = LibAVUtil.av_log_get_level();
        previousLogLevel_ = CurrentLogLevel;
        options_ = std::make_unique<TTestOptions>();
    }
    void TearDown() override {
        options_.reset();
        if (FFmpegLibsLoaded()) LibAVUtil.av_log_set_level(previousLibraryLevel_);
        CurrentLogLevel = previousLogLevel_;
    }

    TTestOptions& Options() { return *options_; }
    AVCodecContext* Template(AVMediaType type) { return options_->CodecOptionContexts[type].get(); }

    // An option's value read back from a library context as the library prints it.
    static std::string Read(void* context, const char* name) {
        uint8_t* text = nullptr;
        if (LibAVUtil.av_opt_get(context, name, 0, &text) < 0 || !text) return "<missing>";
        TLibMemoryPtr<uint8_t> owned(text);
        return std::string(reinterpret_cast<const char*>(text));
    }
    static int64_t ReadInt(void* context, const char* name) {
        int64_t value = -1;
        EXPECT_GE(LibAVUtil.av_opt_get_int(context, name, 0, &value), 0) << name;
        return value;
    }

  private:
    std::unique_ptr<TTestOptions> options_;
    int previousLibraryLevel_ = 0;
    int previousLogLevel_ = 0;
};

// Runs a call and returns the message of the exception of type E it raised ("" when none).
template <typename E, typename F>
std::string MessageOf(F&& call) {
    try {
        call();
    } catch (const E& error) {
        return error.what();
    }
    return "";
}
