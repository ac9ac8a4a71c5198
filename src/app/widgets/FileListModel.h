// The file list as a table model over the core's rows: the view reads each cell from the row's
// typed facts and state, and translates only here, at display.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

#include "app/core/FileList.h"

class TFileListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    // Column numbers, in the order of FileListColumns().
    enum TColumn {
        colName,
        colSize,
        colRate,
        colDuration,
        colOutput,
        colProgress,
        colFrames,
        colStatus
    };

    explicit TFileListModel(TFileList& list, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // The name column's check box: ticks or clears the row (an unreadable row cannot be ticked).
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // Changes of the rows go through these, so the view hears of each.
    template <typename TAdd>
    void AppendRow(TAdd&& add) {  // `add` appends one row to the list
        beginInsertRows({}, list_.Count(), list_.Count());
        add(list_);
        endInsertRows();
    }
    void RemoveRows(std::vector<int> rows);
    void Clear();
    void RowChanged(int row);
    void AllRowsChanged();

    // The texts the progress column can show in the current language: every end state and the
    // widest percentage.
    static QStringList ProgressTexts();

  signals:
    // The user ticked or cleared a row's box.
    void CheckedChanged(int row);

  private:
    QString DisplayText(const TFileListRow& row, int column) const;
    QString ToolTip(const TFileListRow& row, int column) const;

    TFileList& list_;
};
