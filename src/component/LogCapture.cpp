#include "component/LogCapture.h"

#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "binding/FFmpegLibs.h"

namespace {

// Process-wide and never destroyed: the libraries may log from their own threads while the
// program exits, after static objects have gone.
struct TRegistry {
    std::recursive_mutex mutex;  // a log handler may log again on the same thread
    std::vector<TLogSink*> sinks;
};

TRegistry& Registry() {
    static auto* registry = new TRegistry;
    return *registry;
}

struct TPendingText {
    std::mutex mutex;
    TLogList list;
};

TPendingText& Pending() {
    static auto* pending = new TPendingText;
    return *pending;
}

// "[name @ 0xADDRESS]" of a logging object whose first member is its class descriptor.
size_t WriteObjectTag(void* object, char* buffer, size_t size) {
    const AVClass* avClass = *static_cast<const AVClass* const*>(object);
    if (!avClass) return 0;
    const char* name = avClass->item_name ? avClass->item_name(object) : avClass->class_name;
    const int written = std::snprintf(buffer, size, "[%s @ 0x%" PRIXPTR "]", name ? name : "",
                                      reinterpret_cast<uintptr_t>(avClass));
    return written < 0 ? 0 : std::min(static_cast<size_t>(written), size - 1);
}

}  // namespace

TLogList::~TLogList() {
    Clear();
}

TLogList::TLogItem& TLogList::FindOrAdd(uint32_t threadId) {
    if (builtIn_.ThreadId == 0 || builtIn_.ThreadId == threadId) {
        builtIn_.ThreadId = threadId;
        return builtIn_;
    }
    for (TLogItem* item = chain_.get(); item; item = item->Next.get())
        if (item->ThreadId == threadId) return *item;
    auto item = std::make_unique<TLogItem>();
    item->ThreadId = threadId;
    item->Next = std::move(chain_);
    chain_ = std::move(item);
    return *chain_;
}

void TLogList::Clear() {
    builtIn_.ThreadId = 0;
    builtIn_.Text.clear();
    // One item at a time: a long chain must not recurse through its destructors.
    while (chain_) chain_ = std::move(chain_->Next);
}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(gettid());
}

void RegisterLogSink(TLogSink* sink) {
    TRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    registry.sinks.push_back(sink);
}

void UnregisterLogSink(TLogSink* sink) {
    TRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    std::erase(registry.sinks, sink);
}

void InstallLibraryLogCallback() {
    static std::once_flag installed;
    std::call_once(installed, [] { LibAVUtil.av_log_set_callback(&LibraryLogCallback); });
}

void ClearPendingLogText() {
    TPendingText& pending = Pending();
    std::lock_guard lock(pending.mutex);
    pending.list.Clear();
}

std::string SplitLogText(const std::string& text, std::vector<std::string>& lines) {
    size_t start = 0;
    for (size_t feed; (feed = text.find('\n', start)) != std::string::npos; start = feed + 1)
        lines.push_back(text.substr(start, feed - start));
    std::string rest = text.substr(start);
    if (text.size() >= kLogLineBufferSize - 1 && !rest.empty()) {
        lines.push_back(std::move(rest));
        rest.clear();
    }
    return rest;
}

void LibraryLogCallback(void* object, int level, const char* format, va_list args) {
    const int logLevel = LibraryLevelToLogLevel(level);
    if (logLevel > CurrentLogLevel) return;
    try {
        TRegistry& registry = Registry();
        std::lock_guard registryLock(registry.mutex);
        const uint32_t threadId = CurrentThreadId();
        std::vector<std::string> lines;
        {
            TPendingText& pending = Pending();
            std::lock_guard pendingLock(pending.mutex);
            TLogList::TLogItem& item = pending.list.FindOrAdd(threadId);
            char buffer[kLogLineBufferSize] = {};
            size_t used = 0;
            if (object && item.Text.empty()) {
                used = WriteObjectTag(object, buffer, sizeof buffer);
            } else if (!item.Text.empty()) {
                used = std::min(item.Text.size(), sizeof buffer - 1);
                std::memcpy(buffer, item.Text.data(), used);
            }
            if (format && used < sizeof buffer - 1)
                MyUtil.vsnprintf(buffer + used, sizeof buffer - used, format, args);
            item.Text = SplitLogText(buffer, lines);
        }
        // By position: a handler on this thread may create or destroy a component meanwhile.
        for (const std::string& line : lines)
            for (size_t i = 0; i < registry.sinks.size(); ++i) {
                // Nothing may unwind into the libraries' C frames; one component's failing
                // handler loses that component its line, not the others theirs.
                try {
                    registry.sinks[i]->RouteLogLine(threadId, logLevel, line);
                } catch (...) {
                }
            }
    } catch (...) {
        // Out of memory: the message is lost rather than unwound into the libraries.
    }
}
