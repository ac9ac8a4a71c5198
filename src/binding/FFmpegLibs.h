// Run-time binding of the FFmpeg libraries and the C runtime.
//
// Nothing in the program links the libraries: each module is loaded with dlopen() and every
// entry point the program calls is resolved by name into a typed table. Call the libraries only
// through these tables, for example LibAVCodec.avcodec_open2(...).
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/base64.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/hwcontext.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "binding/EntryPointLists.h"

#define DZ_DECLARE_ENTRY_POINT(fn) decltype(&::fn) fn = nullptr;

struct TAVCodecEntryPoints {
    AVCODEC_ENTRY_POINTS(DZ_DECLARE_ENTRY_POINT)
};
struct TAVFormatEntryPoints {
    AVFORMAT_ENTRY_POINTS(DZ_DECLARE_ENTRY_POINT)
};
struct TAVUtilEntryPoints {
    AVUTIL_ENTRY_POINTS(DZ_DECLARE_ENTRY_POINT)
};
struct TSwScaleEntryPoints {
    SWSCALE_ENTRY_POINTS(DZ_DECLARE_ENTRY_POINT)
};
struct TSwResampleEntryPoints {
    SWRESAMPLE_ENTRY_POINTS(DZ_DECLARE_ENTRY_POINT)
};
struct TAVFilterEntryPoints {
    AVFILTER_ENTRY_POINTS(DZ_DECLARE_ENTRY_POINT)
};
struct TMyUtilEntryPoints {
    MYUTIL_ENTRY_POINTS(DZ_DECLARE_ENTRY_POINT)
};

#undef DZ_DECLARE_ENTRY_POINT

// The tables are written only while the libraries load and are read without a lock afterwards.
extern TAVCodecEntryPoints LibAVCodec;
extern TAVFormatEntryPoints LibAVFormat;
extern TAVUtilEntryPoints LibAVUtil;
extern TSwScaleEntryPoints LibSwScale;
extern TSwResampleEntryPoints LibSwResample;
extern TAVFilterEntryPoints LibAVFilter;
extern TMyUtilEntryPoints MyUtil;

// Loads every module in the order avcodec, avformat, avutil, swscale, swresample, avfilter,
// C runtime,
// stopping at the first that fails; a failed load leaves nothing loaded. A file that Folder
// holds is opened by its full path there, any other by the loader's ordinary search. While
// loading, Folder (relative to the current directory) is the current directory; it is put in
// front of PATH unless PATH already contains it, and stays there. An empty Folder changes
// neither. A second call after success does nothing.
bool LoadFFmpegLibs(const std::string& Folder, bool UseVersionedNames);
void UnloadFFmpegLibs();
bool FFmpegLibsLoaded();
std::string FFmpegLibsError();

// The libraries' log level as last read back, on the scale -1 quiet, 0 error, 1 information,
// 2 debug, 3 everything.
// Read by every thread that logs; written when a job or the owner changes the level.
extern std::atomic<int> CurrentLogLevel;
int LibraryLevelToLogLevel(int libraryLevel);
int LogLevelToLibraryLevel(int logLevel);
// Sets the libraries' level from the -1..3 scale and reads it back into CurrentLogLevel.
void SetLibraryLogLevel(int logLevel);

// Per module: load (error text by reference, versioned-name flag; avcodec and avformat take a
// registration flag that today's libraries no longer need), unload, loaded, file name.
bool LoadAVCodec(std::string& error, bool useVersionedName, bool registration);
void UnloadAVCodec();
bool AVCodecLoaded();
std::string AVCodecFileName();

bool LoadAVFormat(std::string& error, bool useVersionedName, bool registration);
void UnloadAVFormat();
bool AVFormatLoaded();
std::string AVFormatFileName();

bool LoadAVUtil(std::string& error, bool useVersionedName);
void UnloadAVUtil();
bool AVUtilLoaded();
std::string AVUtilFileName();

bool LoadSwScale(std::string& error, bool useVersionedName);
void UnloadSwScale();
bool SwScaleLoaded();
std::string SwScaleFileName();

bool LoadSwResample(std::string& error, bool useVersionedName);
void UnloadSwResample();
bool SwResampleLoaded();
std::string SwResampleFileName();

bool LoadAVFilter(std::string& error, bool useVersionedName);
void UnloadAVFilter();
bool AVFilterLoaded();
std::string AVFilterFileName();

bool LoadMyUtil(std::string& error);
void UnloadMyUtil();
bool MyUtilLoaded();
std::string MyUtilFileName();

// Opens one library file. The default is dlopen(); a test may put its own in front to see which
// files are asked for, in which order. Passing nullptr restores the default.
using TLibraryOpener = void* (*)(const std::string& path);
void SetLibraryOpener(TLibraryOpener opener);
void* OpenLibraryFile(const std::string& path);
