// Library log capture: the libraries' log callback cuts their text into whole lines, per thread,
// and hands each line to every registered component.
//
// Locks: the registry's lock is held while a line is routed, and a component takes its own lock
// inside RouteLogLine, so the order is always registry first, component second. The pending
// texts have a lock of their own, taken last: nothing else is locked while it is held.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A receiver of library log lines: a component.
class TLogSink {
  public:
    // One whole line (without its line feed) logged on the thread `threadId`, at `level` on the
    // scale -1 quiet, 0 error, 1 information, 2 debug, 3 everything. Called with the registry
    // locked.
    virtual void RouteLogLine(uint32_t threadId, int level, const std::string& line) = 0;

  protected:
    ~TLogSink() = default;
};

// Per-thread text that has not yet been ended by a line feed. One built-in item and a chain of
// further ones; a built-in item with thread id 0 is free.
class TLogList {
  public:
    struct TLogItem {
        uint32_t ThreadId = 0;
        std::string Text;
        std::unique_ptr<TLogItem> Next;
    };

    TLogList() = default;
    ~TLogList();
    TLogList(const TLogList&) = delete;
    TLogList& operator=(const TLogList&) = delete;

    // The thread's item: the built-in one when it is free or already the thread's, else the
    // first chained one with the id, else a new one put at the front of the chain.
    TLogItem& FindOrAdd(uint32_t threadId);
    // Frees the built-in item (id 0, no text) and every chained one.
    void Clear();

  private:
    TLogItem builtIn_;
    std::unique_ptr<TLogItem> chain_;
};

// The kernel's id of the calling thread.
uint32_t CurrentThreadId();

// Components join the registry when they are created and leave it when they are destroyed;
// once UnregisterLogSink has returned, no line reaches that sink any more.
void RegisterLogSink(TLogSink* sink);
void UnregisterLogSink(TLogSink* sink);

// Installs the callback into the libraries (loaded); later calls do nothing.
void InstallLibraryLogCallback();
// Forgets every thread's pending text.
void ClearPendingLogText();

// The callback itself, as the libraries call it (object: the logging object whose first member
// is its class descriptor, or nullptr; level: the libraries' scale).
void LibraryLogCallback(void* object, int level, const char* format, va_list args);

// The line buffer of one call, with its terminating NUL: longer texts are cut to fit.
constexpr size_t kLogLineBufferSize = 2048;

// Cuts the text of one call (the pending text and the new message joined) at its line feeds:
// the whole lines, without their line feeds, are appended to `lines` and the rest is returned.
// A text that fills the whole line buffer counts as ended, so that nothing is held back for
// ever.
std::string SplitLogText(const std::string& text, std::vector<std::string>& lines);
