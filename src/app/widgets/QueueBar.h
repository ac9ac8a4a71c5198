// The bar under the settings: the progress of the file being converted and of the whole run,
// stopping one file or the run after the files being converted, and how many files convert at
// once.
#pragma once

#include <QWidget>

class QProgressBar;
class QPushButton;
class QSpinBox;

class TQueueBar : public QWidget {
    Q_OBJECT

  public:
    explicit TQueueBar(QWidget* parent);

    // Percentages; the file's bar shows at most 100 %.
    void SetFileProgress(int percent);
    void SetQueueProgress(int percent);
    int ParallelFiles() const;
    // A count outside 1 ... cores is taken to the nearest.
    void SetParallelFiles(int count);
    // While a run goes on, it can be stopped after its files and the count stays.
    void SetRunning(bool running);
    void SetStopAfterEnabled(bool enabled);

  signals:
    void StopThisFileClicked();
    void StopAfterClicked();

  private:
    QProgressBar* fileProgress_ = nullptr;
    QProgressBar* queueProgress_ = nullptr;
    QPushButton* stopThisFileButton_ = nullptr;
    QPushButton* stopAfterButton_ = nullptr;
    QSpinBox* parallelSpin_ = nullptr;
};
