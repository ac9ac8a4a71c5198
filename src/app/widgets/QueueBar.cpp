#include "app/widgets/QueueBar.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>
#include <thread>

#include "app/widgets/WindowParts.h"

namespace {

// The bar's texts are the main window's, translated as they always were.
struct TWindowTexts {
    Q_DECLARE_TR_FUNCTIONS(TMainWindow)
};

int CoreCount() {
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace

TQueueBar::TQueueBar(QWidget* parent) : QWidget(parent) {
    setObjectName("QueueBar");
    auto* progress = new QGridLayout(this);
    progress->setContentsMargins(0, 0, 0, 0);
    progress->setHorizontalSpacing(6);
    progress->setVerticalSpacing(2);
    fileProgress_ = Named(new QProgressBar(this), "fileProgressBar");
    fileProgress_->setRange(0, 100);
    fileProgress_->setValue(0);
    fileProgress_->setTextVisible(false);
    fileProgress_->setToolTip(TWindowTexts::tr("The file being converted"));
    queueProgress_ = Named(new QProgressBar(this), "queueProgressBar");
    queueProgress_->setRange(0, 100);
    queueProgress_->setValue(0);
    queueProgress_->setFormat(TWindowTexts::tr("Queue %p%"));
    queueProgress_->setToolTip(TWindowTexts::tr("All files of the run"));
    progress->addWidget(fileProgress_, 0, 0);
    progress->addWidget(queueProgress_, 1, 0);
    progress->setColumnStretch(0, 1);
    stopThisFileButton_ =
        Named(new QPushButton(TWindowTexts::tr("Stop This File"), this), "ButtonStopSmall");
    stopThisFileButton_->setToolTip(
        TWindowTexts::tr("Stops the selected file, or the one being converted; the "
                         "others go on"));
    progress->addWidget(stopThisFileButton_, 0, 1);
    stopAfterButton_ =
        Named(new QPushButton(TWindowTexts::tr("Stop After This File"), this), "ButtonStopAfter");
    stopAfterButton_->setEnabled(false);
    progress->addWidget(stopAfterButton_, 1, 1);
    auto* parallelLabel = NamedLabel(TWindowTexts::tr("Convert files at once:"), this);
    progress->addWidget(parallelLabel, 0, 2);
    parallelSpin_ = Named(new QSpinBox(this), "SpinParallel");
    parallelSpin_->setRange(1, CoreCount());
    parallelSpin_->setValue(1);
    parallelSpin_->setToolTip(TWindowTexts::tr("How many files convert at the same time"));
    parallelLabel->setBuddy(parallelSpin_);
    progress->addWidget(parallelSpin_, 1, 2);

    connect(stopThisFileButton_, &QPushButton::clicked, this,
            [this] { emit StopThisFileClicked(); });
    connect(stopAfterButton_, &QPushButton::clicked, this, [this] { emit StopAfterClicked(); });
}

void TQueueBar::SetFileProgress(int percent) {
    // A position outside the bar's range would be ignored.
    fileProgress_->setValue(std::clamp(percent, 0, 100));
}

void TQueueBar::SetQueueProgress(int percent) {
    queueProgress_->setValue(percent);
}

int TQueueBar::ParallelFiles() const {
    return parallelSpin_->value();
}

void TQueueBar::SetParallelFiles(int count) {
    parallelSpin_->setValue(std::clamp(count, parallelSpin_->minimum(), parallelSpin_->maximum()));
}

void TQueueBar::SetRunning(bool running) {
    parallelSpin_->setEnabled(!running);
    stopAfterButton_->setEnabled(running);
}

void TQueueBar::SetStopAfterEnabled(bool enabled) {
    stopAfterButton_->setEnabled(enabled);
}
