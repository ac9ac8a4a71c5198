// The option layer of one transcoding job: the option state a job is described by, the keyword
// dispatcher and the typed setters. TCustomFFmpeg (the engine) derives from it.
//
// Most fields are sticky: they hold for every later input, output and stream of the job. The
// fields marked "consumed" are cleared by the input-file operation, the output-file operation
// or a stream creation once used (see the Clear... functions at the end).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding/FFmpegLibs.h"
#include "binding/FrameHook.h"
#include "binding/LibHandles.h"
#include "engine/EngineTypes.h"
#include "engine/OptionText.h"

constexpr int MAX_STREAM_MAPS = 20;
constexpr int MAX_META_DATA_MAPS = 20;

// Flag masks of the libraries' option tables, as the option copies use them.
constexpr int kOptionEncoding = AV_OPT_FLAG_ENCODING_PARAM;  // 1
constexpr int kOptionDecoding = AV_OPT_FLAG_DECODING_PARAM;  // 2
constexpr int kOptionAudio = AV_OPT_FLAG_AUDIO_PARAM;        // 8
constexpr int kOptionVideo = AV_OPT_FLAG_VIDEO_PARAM;        // 16
constexpr int kOptionSubtitle = AV_OPT_FLAG_SUBTITLE_PARAM;  // 32

// Number of codec templates: video, audio, data, subtitle, attachment.
constexpr int kCodecTemplateCount = 5;
// Index of the frame limits by media type: video, audio, data, subtitle.
constexpr int kFrameLimitCount = 4;

// The option values of one job, each with its default beside it. A default-constructed value
// is a fresh job's options, so giving every option its default is one assignment.
struct TOptionValues {
    double InputTimeScales[MAX_FILES][MAX_STREAMS] = {};  // 0.0: no scaling; "itsscale"
    TStreamMap StreamMaps[MAX_STREAM_MAPS] = {};          // "map"
    int32_t StreamMapCount = 0;
    TMetaDataMap MetaDataMaps[MAX_META_DATA_MAPS] = {};  // "map_meta_data"
    int32_t MetaDataMapCount = 0;

    const AVInputFormat* ForcedInputFormat = nullptr;    // consumed by each input and output
    const AVOutputFormat* ForcedOutputFormat = nullptr;  // consumed by each input and output

    // Frame geometry; each opened video input overwrites it. Crops reduce width and height.
    int32_t FrameWidth = 0;         // pixels
    int32_t FrameHeight = 0;        // pixels
    float FrameAspectRatio = 0.0f;  // display width / height, 0 = unknown
    int32_t FramePixelFormat = -1;  // library pixel-format number, -1 = none
    int32_t PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;      // pixels, even
    int32_t PadColor[3] = {16, 128, 128};                              // Y, U, V; low byte counts
    int32_t CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;  // pixels, even
    // Largest number of frames per media type: video, audio, data, subtitle.
    int32_t FrameLimits[kFrameLimitCount] = {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX};
    AVRational FrameRate = {0, 0};     // 0/0 = unset
    float VideoQuantiserScale = 0.0f;  // fixed-quality encoding when non-zero
    // 64 coefficients each when set, empty otherwise. A codec needs its own library copy: the
    // codec context frees the matrices it is given.
    std::vector<uint16_t> IntraMatrix;
    std::vector<uint16_t> InterMatrix;
    std::string RateControlOverride;  // "start,end,q/..." or empty

    int32_t VideoDisabled = 0;   // consumed by each video stream creation
    int32_t VideoDiscard = 0;    // library discard level
    std::string VideoCodecName;  // consumed by each input and each video stream creation
    std::string HardwareDevice;  // "hwdevice": the render node a VAAPI encoder opens
    uint32_t VideoCodecTag = 0;  // four characters, the first in the low byte
    int32_t SameQuality = 0;
    int32_t Deinterlace = 0;
    // Pictures keep the coded orientation: the display matrix is not applied.
    int32_t NoAutoRotate = 0;
    // "palette": a picture whose colours a paletted output (PAL8, a GIF) is mapped to, with
    // dithering; empty: each picture gets a palette of its own.
    std::string PaletteFile;
    int32_t TopFieldFirst = -1;  // -1 = from the input
    int32_t MotionEstimationThreshold = 0;
    int32_t IntraDcPrecision = 8;  // bits
    int32_t LoopInput = 0;
    int32_t LoopOutput = -1;  // count, -1 = no looping
    int32_t QpHistogram = 0;
    int32_t IntraOnly = 0;

    int32_t AudioSampleRate = 44100;        // Hz
    float AudioQuantiserScale = -99999.0f;  // -99999 = none
    int32_t AudioDisabled = 0;              // consumed by each audio stream creation
    int32_t AudioChannels = 2;
    std::string AudioCodecName;  // consumed by each input and each audio stream creation
    uint32_t AudioCodecTag = 0;  // four characters, the first in the low byte
    std::string AudioLanguage;   // moved into the next audio stream created
    // AV_DISPOSITION_* marks of the next audio or subtitle stream created ("adisposition",
    // "sdisposition"); -1 gives it its source's.
    int32_t AudioDisposition = -1;
    int32_t SubtitleDisposition = -1;

    int32_t SubtitleDisabled = 0;   // consumed by each subtitle stream creation
    std::string SubtitleCodecName;  // consumed by each input and each subtitle stream creation
    std::string SubtitleLanguage;   // moved into the next subtitle stream created

    float MuxPreload = 0.5f;            // seconds
    float MuxMaxDelay = 0.7f;           // seconds
    int64_t RecordingTime = INT64_MAX;  // microseconds, INT64_MAX = unlimited
    int64_t StartTime = 0;              // microseconds; consumed by each input
    int64_t RecordingTimestamp = 0;     // seconds since 1970, written into each output
    int64_t InputTimeOffset = 0;        // microseconds, for the next input
    // Ranges of the one input kept and joined ("trim"), µs from the start of its media; the
    // second INT64_MAX: to the end. Empty: the whole input (RangeCut.h).
    std::vector<std::pair<int64_t, int64_t>> TrimRanges;
    // Meta-data written into each output.
    std::string Title, Author, Copyright, Comment, Genre, Album;
    int32_t Year = 0;   // written when positive
    int32_t Track = 0;  // written when positive

    int32_t HexDump = 0;
    int32_t PacketDump = 0;
    int32_t Psnr = 0;
    int32_t Pass = 0;                // 0 = single pass, 1 or 2
    std::string PassLogFileName;     // base name of the two-pass statistics files
    int32_t AudioStreamCopy = 0;     // consumed by each audio stream creation
    int32_t VideoStreamCopy = 0;     // consumed by each video stream creation
    int32_t SubtitleStreamCopy = 0;  // consumed by each subtitle stream creation
    int32_t VideoSyncMethod = -1;    // -1 automatic, 0 off, 1 duplicate/drop, 2 re-stamp
    int32_t AudioSyncMethod = 0;
    float AudioDriftThreshold = 0.1f;  // seconds
    bool CopyTimestamps = false;
    int32_t Shortest = 0;
    int32_t VideoGlobalHeader = 0;   // bit 1: global header, bit 2: local header
    std::string VideoStatsFileName;  // empty = no statistics file
    int32_t ProgramId = 0;           // 0 = all programs
    int32_t RateEmulation = 0;       // consumed by each input
    int32_t VideoChannel = 0;        // consumed by each input
    std::string VideoStandard;       // empty = none
    int32_t AudioVolume = 256;       // 256 = unchanged
    // Loudness normalisation of every re-encoded sound stream ("loudness", Loudness.h:
    // "I=-16:TP=-1" or "gain=-3.5:TP=-1"); empty: none.
    std::string Loudness;
    bool FrameHooksInUse = false;
    int32_t Verbose = 1;      // -1 quiet, 0 errors, 1 information, 2 debug, 3 everything
    int32_t ThreadCount = 1;  // codec threads per stream, 0 = one per core
    // Decoding, picture work, encoding and writing on threads of their own joined by short
    // queues; off: the one loop that does them in turn. The output is the same either way.
    bool Pipeline = true;
    int32_t InputSync = 0;
    uint64_t FileSizeLimit = 0;  // bytes, 0 = none
    int32_t ImageSequenceCompat = 0;
    float TimestampJumpThreshold = 10.0f;  // seconds
    int32_t ScalerFlags = SWS_BICUBIC;

    // The libraries' own names of the generic options set so far, in order.
    std::vector<std::string> OptionNames;
    // Options that only some codec, muxer or demuxer has, as given, in order. They reach every
    // real context that has them (CopyGenericOptions).
    std::vector<std::pair<std::string, std::string>> PrivateOptions;

    int32_t SourceDurationMs = -1;  // expected length of the job, -1 when unknown
};

// The option state of one job: its option values (inherited, so that every option reads by its
// own name) and what the options hold beyond values: library templates, the statistics file,
// the frame-hook chain.
class TFFmpegOptions : public TOptionValues {
  public:
    TFFmpegOptions();
    virtual ~TFFmpegOptions();
    TFFmpegOptions(const TFFmpegOptions&) = delete;
    TFFmpegOptions& operator=(const TFFmpegOptions&) = delete;

    // ---- Files: the engine keeps a record per opened file (MediaFiles.h); these count them.
    int32_t InputFileCount = 0;
    int32_t OutputFileCount = 0;

    TStdioFilePtr VideoStatsFile;  // opened through MyUtil by the video output

    // Template contexts that generic library options are stored in; allocated by Reset.
    TCodecContextPtr CodecOptionContexts[kCodecTemplateCount];
    TFormatContextPtr FormatOptionContext;
    TSwsPtr ScalerOptionContext;

    // Frame hooks added by "vhook", released after every run.
    TFrameHookEntry* FrameHooks = nullptr;

    std::string LastError;  // message of the last failed input or output set-up

    // ---- Keywords.

    // Applies one option keyword (without its dash; exact, case-sensitive) with its value text.
    // Unknown keywords go to the library option templates; one that none knows is dropped.
    // Raises FFMpegException, EConvertError or EAssertionFailed when the option is refused.
    void ParseOption(const std::string& name, const std::string& value);
    // Applies a task's option text line by line (SplitOptionText); stops at the first refusal.
    void ApplyOptionText(const std::string& text);
    // Whether a command line gives this keyword a value: every keyword does except the engine's
    // own switches ("y", "vn", "newvideo", ...). Unknown (generic) keywords take one.
    static bool KeywordTakesValue(const std::string& name);
    // The engine's own keywords in the order they are matched.
    static std::vector<std::string> OwnKeywords();

    // ---- Generic library options.

    // Stores a library option in the templates it fits (codec templates by media type, then
    // the format template, then the scaler template, then "a"/"v"/"s" + name in the audio,
    // video or subtitle template); an option that only some codec, muxer or demuxer has is
    // kept in PrivateOptions. True when the option was taken. Earlier releases' names of
    // renamed options ("gop") are understood.
    bool SetGenericOption(const std::string& name, const std::string& value);
    bool SetGenericOptionInt(const std::string& name, int64_t value);
    // Writes every option of OptionNames whose flags hold all bits of `mask` from a template
    // onto a real context of the same kind, then every private option that the context (its
    // codec or format included) has with those flags. False when the target refused one.
    bool CopyGenericOptions(void* target, void* templateContext, int mask);

    // ---- Typed setters.
    void SetInputFormat(const std::string& name);
    void SetOutputFormat(const std::string& name);
    void SetVerbose(int32_t value);
    void SetRecordingTimeMs(int32_t milliseconds);
    void SetStartTimeUs(int64_t microseconds);
    // "START-END[,START-END...]" (ParseTrimRanges); throws FFMpegException for a bad range.
    void SetTrimRanges(const std::string& text);
    void SetProgramId(int32_t value);
    void SetAudioSampleRate(int32_t value);
    void SetAudioChannels(int32_t value);
    void SetAudioVolume(int32_t value);
    // Checks the text (Loudness.h) before keeping it; throws FFMpegException saying what is wrong.
    void SetLoudness(const std::string& text);
    void SetAudioSyncMethod(int32_t value);
    void SetVideoSyncMethod(int32_t value);
    void SetMuxPreload(float seconds);
    void SetMuxMaxDelay(float seconds);
    void SetYear(int32_t value);
    void SetTrack(int32_t value);
    void SetTitle(const std::string& text);
    void SetAuthor(const std::string& text);
    void SetCopyright(const std::string& text);
    void SetComment(const std::string& text);
    void SetGenre(const std::string& text);
    void SetAlbum(const std::string& text);
    void SetVideoCodec(const std::string& name);
    void SetAudioCodec(const std::string& name);
    void SetSubtitleCodec(const std::string& name);
    // "default", "forced", "default+forced" or "none" into a disposition field; throws
    // FFMpegException for another word.
    static void SetDisposition(int32_t& field, const std::string& text);
    void SetVideoTag(const std::string& tag);
    void SetAudioTag(const std::string& tag);
    void SetFrameRate(const std::string& text);
    void SetFrameSize(const std::string& text);
    void SetFrameAspect(const std::string& text);
    void SetPixelFormat(const std::string& text);
    void SetCropTop(int32_t value);
    void SetCropBottom(int32_t value);
    void SetCropLeft(int32_t value);
    void SetCropRight(int32_t value);
    void SetPadTop(int32_t value);
    void SetPadBottom(int32_t value);
    void SetPadLeft(int32_t value);
    void SetPadRight(int32_t value);
    // Red in the low byte, green in the next, blue in the third.
    void SetPadColor(uint32_t color);

    // Target presets and stream creation belong to the engine, which overrides these.
    virtual void SetTarget(const std::string& targetType, const std::string& norm,
                           const std::string& fallbackNorm);
    virtual void ParseTarget(const std::string& text);

  protected:
    // Reports one message through the engine's log slot (level -1, 0, 1 or 2).
    virtual void DoLog(int level, const std::string& text) = 0;

    // "newvideo", "newaudio", "newsubtitle": a stream for the last output file opened.
    virtual void NewVideoStream();
    virtual void NewAudioStream();
    virtual void NewSubtitleStream();

    // Every option value takes its default (an assignment of TOptionValues{}). Nothing is
    // freed: the template contexts, the statistics file, the frame-hook chain and the file
    // tables are left to FreeOptionState and the engine's clean-up.
    void ApplyOptionDefaults();
    // Creates the per-media-type codec templates, the format template and the scaler template
    // (16x16, pixel format 0, the scaler flags), freeing any earlier ones first.
    // Raises FFMpegException when the libraries cannot allocate them.
    void AllocateOptionContexts();
    // Frees the template contexts and every text, table and file the options own; releases
    // the frame-hook chain before the argument texts its modules were given.
    void FreeOptionState();

    // What the set-up operations consume once they have used it.
    void ClearInputScopedOptions();     // forced formats, video channel, rate emulation, codecs
    void ClearOutputScopedOptions();    // forced formats
    void ClearVideoStreamOptions();     // video disabled, codec name, stream copy
    void ClearAudioStreamOptions();     // audio disabled, codec name, stream copy, language
    void ClearSubtitleStreamOptions();  // subtitle disabled, codec name, stream copy, language

    // Keyword handlers that do more than store a value.
    void SetFormat(const std::string& name);
    void SetBitRate(const std::string& keyword, const std::string& value);
    void AddStreamMap(const std::string& text);
    void AddMetaDataMap(const std::string& text);
    void SetInputTimeScale(const std::string& text);
    void SetTimeOption(const std::string& keyword, const std::string& value);
    void SetVideoQuantiserScale(float value);
    void SetPass(int32_t value);
    void SetMatrix(std::vector<uint16_t>& matrix, const std::string& text);
    void SetDefaultVideoStatsFile();
    void SetVideoStatsFile(const std::string& name);
    void AddVideoHook(const std::string& value);

  private:
    struct TKeywordRow;
    static const std::vector<TKeywordRow>& KeywordTable();
    static const TKeywordRow* FindKeyword(const std::string& name);

    std::string ResolveFormatName(const std::string& name);
    void ApplyRecordingTimeUs(int64_t microseconds);
    void SetCodecName(std::string& codecName, int32_t& streamCopy, const std::string& value);
    void SetCodecTag(uint32_t& tag, const std::string& value, const char* kind);
    void SetCrop(int32_t& band, int32_t& dimension, int32_t value, const char* side, bool vertical);
    void SetPad(int32_t& band, int32_t value, const char* side);
    void ReportIgnoredOption(const std::string& keyword);
    // The argument texts of the frame hooks in the chain: modules may keep pointers into them.
    std::vector<std::unique_ptr<char[]>> FrameHookArguments;
};
