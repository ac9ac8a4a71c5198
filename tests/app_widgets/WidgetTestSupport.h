// What the window tests share: one QApplication on the offscreen platform, a settings store of
// each test's own, and message boxes that are recorded instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "app/widgets/MessageBoxes.h"
#include "support/TempDir.h"

// Created on first use, on the main thread, before any widget.
QApplication& TestApplication();

// Runs the event loop until done() holds; fails the test after a generous limit. The loop
// sleeps until an event arrives (a worker's queued report, a timer) instead of spinning.
void ProcessEventsUntil(const std::function<bool()>& done);

// Runs the event loop for the given time, so that whatever timers fire in it is seen.
void ProcessEventsFor(std::chrono::milliseconds span);

// Closes the modal dialog that the next call opens (a folder or file dialog), once it runs, and
// records its title; the title stays empty when no dialog opened.
struct TClosedDialog {
    bool opened = false;
    QString title;
};
std::shared_ptr<const TClosedDialog> CloseNextModalDialog();

// Adds the files as the window's AddFiles does, and waits until every row is in: the files are
// probed on a worker and their rows come in as the probes end.
class TMainWindow;
void AddFilesAndWait(TMainWindow& form, const QStringList& paths);

// The output-format list holds every profile under its line of OutputFormatLines(): choosing a
// line as the user does, and the line chosen.
void ChooseFormatLine(QComboBox* list, int line);
int ChosenFormatLine(const QComboBox* list);

// The file list's cells as its view shows them, and a tick as a click on a row's box gives.
QString CellText(const QAbstractItemView* list, int row, int column);
QString CellTip(const QAbstractItemView* list, int row, int column);
Qt::CheckState CellCheck(const QAbstractItemView* list, int row);
Qt::ItemFlags CellFlags(const QAbstractItemView* list, int row, int column);
void SetCellCheck(QAbstractItemView* list, int row, Qt::CheckState state);
int RowCount(const QAbstractItemView* list);
int ColumnCount(const QAbstractItemView* list);
// Calls `changed` with each cell the list's model reports changed.
QMetaObject::Connection OnCellChanged(QAbstractItemView* list,
                                      std::function<void(int row, int column)> changed);

class TWidgetTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The named child, failing the test when there is none.
    template <typename TChild>
    TChild* Child(const QWidget* parent, const char* name) {
        auto* child = parent->findChild<TChild*>(name);
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    std::vector<std::pair<TMessageKind, QString>> messages_;
    bool confirmationAnswer_ = true;  // the answer to "Stop all conversions?"
    TTempDir configDir_;
};
