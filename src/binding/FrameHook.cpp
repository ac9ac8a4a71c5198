#include "binding/FrameHook.h"

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "binding/FFmpegLibs.h"
#include "binding/LibHandles.h"
#include "binding/ProgramFolders.h"

namespace {

// A hook module as loaded: the name it was asked for by and its library handle. Handles are
// never closed: chains of finished runs may still hold the module's functions, and a module
// can keep state of its own between runs.
struct THookModule {
    std::string name;
    void* handle;
};

bool SameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        return lower(x) == lower(y);
    });
}

// The modules loaded so far in this process; the list itself is freed at exit. Engines may add
// hooks from different threads, so every look-up and load happens under the lock: a module is
// then loaded once even when two threads ask for it at the same moment.
class THookModuleRegistry {
  public:
    // The module's handle, loading it on first use; nullptr with the loader's message in error.
    void* Find(const std::string& name, std::string& error) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const THookModule& module : modules_)
            if (SameName(module.name, name)) return module.handle;
        dlerror();
        void* handle = OpenLibraryFile(FrameHookFile(name, ProgramFolder()));
        if (!handle) {
            const char* message = dlerror();
            error = message ? message : "cannot load " + name;
            return nullptr;
        }
        modules_.push_back({name, handle});
        return handle;
    }

  private:
    std::mutex mutex_;
    std::vector<THookModule> modules_;
};

THookModuleRegistry& Registry() {
    static THookModuleRegistry registry;
    return registry;
}

template <typename Function>
Function EntryPoint(void* handle, const char* name) {
    return reinterpret_cast<Function>(dlsym(handle, name));
}

void FreeEntry(TFrameHookEntry* entry) {
    entry->~TFrameHookEntry();
    TLibMemoryPtr<void> memory(entry);  // the entry's bytes came from av_mallocz
}

}  // namespace

std::string FrameHookFile(const std::string& name, const std::string& programFolder) {
    if (name.find('/') != std::string::npos) return name;
    const std::string own = FindProgramFile(TProgramFiles::FrameHooks, name, programFolder);
    return own.empty() ? name : own;
}

int AddFrameHook(TFrameHookEntry*& first, int argc, char* argv[], int highestIndex) {
    if (argc < 1 || !argv || !argv[0]) return -2;
    // Configure reads argc entries: a count beyond the array would hand it memory past its end.
    if (argc > highestIndex + 1) return -2;
    // Logging and the entry's memory both come from libavutil.
    if (!AVUtilLoaded()) return -ENOMEM;

    const char* fileName = argv[0];
    std::string loadError;
    void* handle = Registry().Find(fileName, loadError);
    if (!handle) {
        LibAVUtil.av_log(nullptr, AV_LOG_ERROR, "%s\n", loadError.c_str());
        return -1;
    }

    void* memory = LibAVUtil.av_mallocz(sizeof(TFrameHookEntry));
    if (!memory) return -ENOMEM;
    auto* entry = new (memory) TFrameHookEntry{};
    entry->Configure = EntryPoint<TFrameHookConfigure>(handle, "Configure");
    entry->Process = EntryPoint<TFrameHookProcess>(handle, "Process");
    entry->Release = EntryPoint<TFrameHookRelease>(handle, "Release");

    // A refused entry is not chained: it is freed here, the chain stays as it was.
    if (!entry->Process) {
        LibAVUtil.av_log(nullptr, AV_LOG_ERROR, "Failed to find Process entrypoint in %s\n",
                         fileName);
        FreeEntry(entry);
        return -2;
    }
    if (!entry->Configure && argc > 1) {
        LibAVUtil.av_log(nullptr, AV_LOG_ERROR, "Failed to find Configure entrypoint in %s\n",
                         fileName);
        FreeEntry(entry);
        return -2;
    }
    if (entry->Configure && entry->Configure(&entry->Context, argc, argv, highestIndex) != 0) {
        LibAVUtil.av_log(nullptr, AV_LOG_ERROR, "Failed to Configure %s\n", fileName);
        FreeEntry(entry);
        return -EINVAL;
    }

    TFrameHookEntry** link = &first;
    while (*link) link = &(*link)->Next;
    *link = entry;
    return 0;
}

void RunFrameHooks(TFrameHookEntry* first, TFrameHookPicture* picture, int pixelFormat, int width,
                   int height, int64_t pts) {
    for (TFrameHookEntry* entry = first; entry; entry = entry->Next)
        entry->Process(entry->Context, picture, pixelFormat, width, height, pts);
}

void ReleaseFrameHooks(TFrameHookEntry*& first) {
    TFrameHookEntry* entry = first;
    first = nullptr;
    while (entry) {
        TFrameHookEntry* next = entry->Next;
        if (entry->Release) entry->Release(entry->Context);
        FreeEntry(entry);
        entry = next;
    }
}
