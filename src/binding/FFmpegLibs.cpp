#include "binding/FFmpegLibs.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdarg>
#include <filesystem>

TAVCodecEntryPoints LibAVCodec;
TAVFormatEntryPoints LibAVFormat;
TAVUtilEntryPoints LibAVUtil;
TSwScaleEntryPoints LibSwScale;
TSwResampleEntryPoints LibSwResample;
TAVFilterEntryPoints LibAVFilter;
TMyUtilEntryPoints MyUtil;

std::atomic<int> CurrentLogLevel{0};

namespace {

struct TLibraryModule {
    TLibraryModule(const char* pattern, int major, const char* plain)
        : versionedPattern(pattern), versionMajor(major), plainName(plain) {}
    const char* versionedPattern;  // printf pattern with the major version, or nullptr
    int versionMajor;
    const char* plainName;
    void* handle = nullptr;
    bool entryPointsResolved = false;
    bool useVersionedName = false;
    std::string lastError;
};

TLibraryModule avcodecModule{"libavcodec.so.%d", LIBAVCODEC_VERSION_MAJOR, "libavcodec.so"};
TLibraryModule avformatModule{"libavformat.so.%d", LIBAVFORMAT_VERSION_MAJOR, "libavformat.so"};
TLibraryModule avutilModule{"libavutil.so.%d", LIBAVUTIL_VERSION_MAJOR, "libavutil.so"};
TLibraryModule swscaleModule{"libswscale.so.%d", LIBSWSCALE_VERSION_MAJOR, "libswscale.so"};
TLibraryModule swresampleModule{"libswresample.so.%d", LIBSWRESAMPLE_VERSION_MAJOR,
                                "libswresample.so"};
TLibraryModule avfilterModule{"libavfilter.so.%d", LIBAVFILTER_VERSION_MAJOR, "libavfilter.so"};
TLibraryModule myutilModule{nullptr, 0, "libc.so.6"};

bool libsLoaded = false;
std::string libsError;
// The folder of the load in progress: a library file found there is loaded by its full path.
std::string loadFolder;

// Unloading forgets a library but leaves its code mapped: its dependencies may have registered
// exit handlers or thread-local destructors that must still find their code at process exit.
void* DefaultOpener(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}
TLibraryOpener libraryOpener = DefaultOpener;

// The system's message may hold long paths: the text is sized to fit, never cut.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    std::string text(length > 0 ? length : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    return text;
}

std::string SystemMessage() {
    const char* text = dlerror();
    return text ? text : "unknown error";
}

std::string FileNameOf(const TLibraryModule& module) {
    if (module.useVersionedName && module.versionedPattern)
        return Format(module.versionedPattern, module.versionMajor);
    return module.plainName;
}

// Raised while resolving: only this kind of failure is caught by the module's load.
struct TMissingEntryPoint {
    std::string text;
};

template <typename Pointer>
void Resolve(const TLibraryModule& module, const char* name, Pointer& target) {
    dlerror();
    void* address = dlsym(module.handle, name);
    if (!address)
        throw TMissingEntryPoint{Format("Load function %s@%s error: %s", name,
                                        FileNameOf(module).c_str(), SystemMessage().c_str())};
    target = reinterpret_cast<Pointer>(address);
}

template <typename Resolver>
bool LoadModule(TLibraryModule& module, std::string& error, bool useVersionedName,
                Resolver resolveAll) {
    module.useVersionedName = useVersionedName;
    if (!module.handle) {
        const std::string fileName = FileNameOf(module);
        std::string path = fileName;
        if (!loadFolder.empty()) {
            std::error_code ec;
            const auto candidate = std::filesystem::path(loadFolder) / fileName;
            if (std::filesystem::exists(candidate, ec)) path = candidate.string();
        }
        dlerror();
        module.handle = OpenLibraryFile(path);
        if (!module.handle)
            module.lastError =
                Format("Load libraray %s error: %s", fileName.c_str(), SystemMessage().c_str());
    }
    if (!module.handle) {
        error = module.lastError;
        return false;
    }
    if (module.entryPointsResolved) return true;
    try {
        resolveAll(module);
    } catch (const TMissingEntryPoint& missing) {
        module.lastError = missing.text;
        error = module.lastError;
        return false;
    }
    module.entryPointsResolved = true;
    return true;
}

void UnloadModule(TLibraryModule& module) {
    if (!module.handle) return;
    dlclose(module.handle);
    module.handle = nullptr;
    module.entryPointsResolved = false;
}

}  // namespace

void* OpenLibraryFile(const std::string& path) {
    return libraryOpener(path);
}

void SetLibraryOpener(TLibraryOpener opener) {
    libraryOpener = opener ? opener : DefaultOpener;
}

#define DZ_RESOLVE(table) [](const TLibraryModule& m) { table }
#define DZ_RESOLVE_AVCODEC(fn) Resolve(m, #fn, LibAVCodec.fn);
#define DZ_RESOLVE_AVFORMAT(fn) Resolve(m, #fn, LibAVFormat.fn);
#define DZ_RESOLVE_AVUTIL(fn) Resolve(m, #fn, LibAVUtil.fn);
#define DZ_RESOLVE_SWSCALE(fn) Resolve(m, #fn, LibSwScale.fn);
#define DZ_RESOLVE_SWRESAMPLE(fn) Resolve(m, #fn, LibSwResample.fn);
#define DZ_RESOLVE_AVFILTER(fn) Resolve(m, #fn, LibAVFilter.fn);
#define DZ_RESOLVE_MYUTIL(fn) Resolve(m, #fn, MyUtil.fn);

// The registration calls of older releases no longer exist: nothing is called in their place.
bool LoadAVCodec(std::string& error, bool useVersionedName, bool /*registration*/) {
    return LoadModule(avcodecModule, error, useVersionedName,
                      DZ_RESOLVE(AVCODEC_ENTRY_POINTS(DZ_RESOLVE_AVCODEC)));
}
void UnloadAVCodec() {
    UnloadModule(avcodecModule);
}
bool AVCodecLoaded() {
    return avcodecModule.entryPointsResolved;
}
std::string AVCodecFileName() {
    return FileNameOf(avcodecModule);
}

bool LoadAVFormat(std::string& error, bool useVersionedName, bool /*registration*/) {
    return LoadModule(avformatModule, error, useVersionedName,
                      DZ_RESOLVE(AVFORMAT_ENTRY_POINTS(DZ_RESOLVE_AVFORMAT)));
}
void UnloadAVFormat() {
    UnloadModule(avformatModule);
}
bool AVFormatLoaded() {
    return avformatModule.entryPointsResolved;
}
std::string AVFormatFileName() {
    return FileNameOf(avformatModule);
}

bool LoadAVUtil(std::string& error, bool useVersionedName) {
    return LoadModule(avutilModule, error, useVersionedName,
                      DZ_RESOLVE(AVUTIL_ENTRY_POINTS(DZ_RESOLVE_AVUTIL)));
}
void UnloadAVUtil() {
    UnloadModule(avutilModule);
}
bool AVUtilLoaded() {
    return avutilModule.entryPointsResolved;
}
std::string AVUtilFileName() {
    return FileNameOf(avutilModule);
}

bool LoadSwScale(std::string& error, bool useVersionedName) {
    return LoadModule(swscaleModule, error, useVersionedName,
                      DZ_RESOLVE(SWSCALE_ENTRY_POINTS(DZ_RESOLVE_SWSCALE)));
}
void UnloadSwScale() {
    UnloadModule(swscaleModule);
}
bool SwScaleLoaded() {
    return swscaleModule.entryPointsResolved;
}
std::string SwScaleFileName() {
    return FileNameOf(swscaleModule);
}

bool LoadSwResample(std::string& error, bool useVersionedName) {
    return LoadModule(swresampleModule, error, useVersionedName,
                      DZ_RESOLVE(SWRESAMPLE_ENTRY_POINTS(DZ_RESOLVE_SWRESAMPLE)));
}
void UnloadSwResample() {
    UnloadModule(swresampleModule);
}
bool SwResampleLoaded() {
    return swresampleModule.entryPointsResolved;
}
std::string SwResampleFileName() {
    return FileNameOf(swresampleModule);
}

bool LoadAVFilter(std::string& error, bool useVersionedName) {
    return LoadModule(avfilterModule, error, useVersionedName,
                      DZ_RESOLVE(AVFILTER_ENTRY_POINTS(DZ_RESOLVE_AVFILTER)));
}
void UnloadAVFilter() {
    UnloadModule(avfilterModule);
}
bool AVFilterLoaded() {
    return avfilterModule.entryPointsResolved;
}
std::string AVFilterFileName() {
    return FileNameOf(avfilterModule);
}

// The C runtime is always the C library by its one name, versioned names or not.
bool LoadMyUtil(std::string& error) {
    return LoadModule(myutilModule, error, false,
                      DZ_RESOLVE(MYUTIL_ENTRY_POINTS(DZ_RESOLVE_MYUTIL)));
}
void UnloadMyUtil() {
    UnloadModule(myutilModule);
}
bool MyUtilLoaded() {
    return myutilModule.entryPointsResolved;
}
std::string MyUtilFileName() {
    return FileNameOf(myutilModule);
}

int LibraryLevelToLogLevel(int libraryLevel) {
    // Below panic nothing is printed any more, whatever the exact value.
    if (libraryLevel < AV_LOG_PANIC) return -1;
    if (libraryLevel <= AV_LOG_ERROR) return 0;
    if (libraryLevel <= AV_LOG_INFO) return 1;
    if (libraryLevel <= AV_LOG_DEBUG) return 2;
    return 3;
}

int LogLevelToLibraryLevel(int logLevel) {
    switch (logLevel) {
        case -1:
            return AV_LOG_QUIET;
        case 0:
            return AV_LOG_ERROR;
        case 1:
            return AV_LOG_INFO;
        case 2:
            return AV_LOG_DEBUG;
        default:
            return logLevel < -1 ? AV_LOG_QUIET : AV_LOG_TRACE;
    }
}

void SetLibraryLogLevel(int logLevel) {
    if (!libsLoaded) return;
    LibAVUtil.av_log_set_level(LogLevelToLibraryLevel(logLevel));
    CurrentLogLevel = LibraryLevelToLogLevel(LibAVUtil.av_log_get_level());
}

namespace {

// While the libraries load from a folder, that folder is the current directory and the folder
// the loader looks in first; both are put back on every way out, exceptions included.
class TFolderScope {
  public:
    explicit TFolderScope(const std::string& folder) {
        if (folder.empty()) return;
        std::error_code ec;
        // Relative to where we are now: made absolute before the current directory changes.
        const std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
        loadFolder = ec ? folder : absolute.string();
        // A current directory that cannot be read back could not be restored: leave it.
        previous_ = std::filesystem::current_path(ec);
        if (!ec) {
            std::filesystem::current_path(folder, ec);
            changed_ = !ec;
        }
        // The folder goes in front of PATH unless PATH already names it; PATH is a
        // case-sensitive list, so it is compared and kept exactly as it is. An empty PATH gets
        // the folder alone: a trailing ":" would add the current directory to the search.
        const char* path = std::getenv("PATH");
        const std::string oldPath = path ? path : "";
        if (oldPath.find(folder) == std::string::npos)
            setenv("PATH", (oldPath.empty() ? folder : folder + ":" + oldPath).c_str(), 1);
    }
    ~TFolderScope() {
        loadFolder.clear();
        if (!changed_) return;
        std::error_code ec;
        std::filesystem::current_path(previous_, ec);
    }
    TFolderScope(const TFolderScope&) = delete;
    TFolderScope& operator=(const TFolderScope&) = delete;

  private:
    std::filesystem::path previous_;
    bool changed_ = false;
};

}  // namespace

bool LoadFFmpegLibs(const std::string& Folder, bool UseVersionedNames) {
    if (libsLoaded) return true;
    libsError.clear();
    // SVT-AV1 prints its banner and notes with its own printf to standard error, past the
    // libraries' log, at the level it reads from SVT_LOG when an encoder opens: errors only (1)
    // unless the user set another.
    setenv("SVT_LOG", "1", 0);

    {
        TFolderScope folderScope(Folder);
        libsLoaded = LoadAVCodec(libsError, UseVersionedNames, true) &&
                     LoadAVFormat(libsError, UseVersionedNames, true) &&
                     LoadAVUtil(libsError, UseVersionedNames) &&
                     LoadSwScale(libsError, UseVersionedNames) &&
                     LoadSwResample(libsError, UseVersionedNames) &&
                     LoadAVFilter(libsError, UseVersionedNames) && LoadMyUtil(libsError);
    }

    if (libsLoaded)
        CurrentLogLevel = LibraryLevelToLogLevel(LibAVUtil.av_log_get_level());
    else
        UnloadFFmpegLibs();
    return libsLoaded;
}

void UnloadFFmpegLibs() {
    libsLoaded = false;
    UnloadAVCodec();
    UnloadAVFormat();
    UnloadAVUtil();
    UnloadSwScale();
    UnloadSwResample();
    UnloadAVFilter();
    UnloadMyUtil();
}

bool FFmpegLibsLoaded() {
    return libsLoaded;
}

std::string FFmpegLibsError() {
    return libsError;
}
