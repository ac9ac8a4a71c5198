// Files to add are probed in order on a worker thread; each one's facts reach the owner's
// thread as its probe ends, so the window never waits for a probe.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/core/FileList.h"

class QObject;

// What the probe found of one file.
struct TProbedInput {
    std::string File;
    bool Exists = false;
    bool Read = false;
    TProbeFacts Facts;
    std::string Error;    // why it could not be read
    bool Failed = false;  // the probe itself failed: the probing ends here
};

class TFileProber {
  public:
    // `probed` runs for each file, then `ended` once, in order, on `receiver`'s thread; what is
    // still on its way when `receiver` goes is dropped with it.
    TFileProber(QObject* receiver, std::function<void(const TProbedInput&)> probed,
                std::function<void()> ended);
    ~TFileProber() { Stop(); }
    TFileProber(const TFileProber&) = delete;
    TFileProber& operator=(const TFileProber&) = delete;

    // Probes the files on a new worker; the previous one has ended by then (it is joined here).
    void Start(std::vector<std::string> files);
    // Ends the worker after its current file and joins it.
    void Stop();

  private:
    void Run(std::vector<std::string> files);

    QObject* receiver_;
    std::function<void(const TProbedInput&)> probed_;
    std::function<void()> ended_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
};
