#include "app/widgets/FileProber.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <exception>

#include "app/core/ProbeFacts.h"
#include "probe/AVProbe.h"

TFileProber::TFileProber(QObject* receiver, std::function<void(const TProbedInput&)> probed,
                         std::function<void()> ended)
    : receiver_(receiver), probed_(std::move(probed)), ended_(std::move(ended)) {}

void TFileProber::Start(std::vector<std::string> files) {
    Stop();
    stop_ = false;
    worker_ = std::thread([this, files = std::move(files)]() mutable { Run(std::move(files)); });
}

void TFileProber::Stop() {
    stop_ = true;
    if (worker_.joinable()) worker_.join();
}

// On the worker: the handlers are copied into the queued calls, which run on the receiver's
// thread.
void TFileProber::Run(std::vector<std::string> files) {
    TAVProbe probe;
    for (const std::string& file : files) {
        if (stop_) return;
        TProbedInput probed;
        probed.File = file;
        try {
            probed.Exists = QFileInfo::exists(QString::fromStdString(file));
            if (probed.Exists && probe.LoadFile(file)) {
                probed.Read = true;
                probed.Facts = ReadProbeFacts(probe);
                probe.CloseFile();
            } else if (probed.Exists) {
                probed.Error = probe.LastErrorText();
            }
        } catch (const std::exception& error) {
            probed.Failed = true;
            probed.Error = error.what();
        }
        QMetaObject::invokeMethod(
            receiver_, [handler = probed_, probed] { handler(probed); }, Qt::QueuedConnection);
        if (probed.Failed) break;
    }
    QMetaObject::invokeMethod(receiver_, ended_, Qt::QueuedConnection);
}
