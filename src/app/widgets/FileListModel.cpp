#include "app/widgets/FileListModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <functional>

#include "app/core/FileListTexts.h"
#include "app/core/QueueProgress.h"
#include "app/widgets/WindowParts.h"

namespace {

// The list's texts are the main window's: one context for its translators.
QString Translated(const char* text) {
    return QCoreApplication::translate("TMainWindow", text);
}

// Kept for the translation tools, which find the texts here: the captions and the states.
[[maybe_unused]] const char* const kListTexts[] = {
    QT_TRANSLATE_NOOP("TMainWindow", "Video File Name"),
    QT_TRANSLATE_NOOP("TMainWindow", "Video Size"),
    QT_TRANSLATE_NOOP("TMainWindow", "FrameRate"),
    QT_TRANSLATE_NOOP("TMainWindow", "Duration"),
    QT_TRANSLATE_NOOP("TMainWindow", "Output"),
    QT_TRANSLATE_NOOP("TMainWindow", "Progress"),
    QT_TRANSLATE_NOOP("TMainWindow", "Frames"),
    QT_TRANSLATE_NOOP("TMainWindow", "Status"),
    QT_TRANSLATE_NOOP("TMainWindow", "Done"),
    QT_TRANSLATE_NOOP("TMainWindow", "Done with errors"),
    QT_TRANSLATE_NOOP("TMainWindow", "Fail"),
    QT_TRANSLATE_NOOP("TMainWindow", "Abort"),
    QT_TRANSLATE_NOOP("TMainWindow", "Error"),
};

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

TFileListModel::TFileListModel(TFileList& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list) {}

int TFileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : list_.Count();
}

int TFileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QString TFileListModel::DisplayText(const TFileListRow& row, int column) const {
    switch (column) {
        case colName:
            return QFileInfo(Q(row.FileName)).fileName();
        case colSize:
            return Q(row.VideoSize);
        case colRate:
            return Q(row.FrameRate);
        case colDuration:
            return Translated(row.Duration.c_str());
        case colOutput:
            return Q(row.Output);
        case colProgress:
            return row.State == TRowState::Converting ? QStringLiteral("%1%").arg(row.Percent)
                                                      : Translated(RowStateText(row.State));
        case colFrames:
            return Q(row.Frames);
        case colStatus:
            return Q(row.Status).section('\n', 0, 0);
    }
    return {};
}

QString TFileListModel::ToolTip(const TFileListRow& row, int column) const {
    const QFileInfo file(Q(row.FileName));
    const QString status = Q(row.Status);
    if (column == colName) return QDir::toNativeSeparators(file.absolutePath());
    if (column == colStatus || !status.isEmpty()) return status;
    return file.fileName();
}

QVariant TFileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= list_.Count()) return {};
    const TFileListRow& row = list_.Row(index.row());
    switch (role) {
        case Qt::DisplayRole:
            return DisplayText(row, index.column());
        case Qt::ToolTipRole:
            return ToolTip(row, index.column());
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(FileListColumns()[index.column()].Centred
                                           ? Qt::Alignment(Qt::AlignCenter)
                                           : Qt::AlignLeft | Qt::AlignVCenter);
        case Qt::CheckStateRole:
            if (index.column() == colName) return row.Checked ? Qt::Checked : Qt::Unchecked;
            break;
        default:
            break;
    }
    return {};
}

QVariant TFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
    const TListColumn& column = FileListColumns()[section];
    if (role == Qt::DisplayRole) return Translated(column.Caption);
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(column.Centred ? Qt::Alignment(Qt::AlignCenter)
                                                  : Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

Qt::ItemFlags TFileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    // An unreadable file cannot be checked: it would only fail again.
    if (index.column() == colName && IsRunnableRow(list_.Row(index.row())))
        return flags | Qt::ItemIsUserCheckable;
    return flags;
}

bool TFileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != colName || index.row() >= list_.Count() ||
        !(flags(index) & Qt::ItemIsUserCheckable))
        return false;
    list_.Row(index.row()).Checked = value.value<Qt::CheckState>() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit CheckedChanged(index.row());
    return true;
}

void TFileListModel::RemoveRows(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : rows) {
        if (row < 0 || row >= list_.Count()) continue;
        beginRemoveRows({}, row, row);
        list_.RemoveRows({row});
        endRemoveRows();
    }
}

void TFileListModel::Clear() {
    beginResetModel();
    list_.Clear();
    endResetModel();
}

void TFileListModel::RowChanged(int row) {
    if (row < 0 || row >= list_.Count()) return;
    emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

void TFileListModel::AllRowsChanged() {
    if (list_.Empty()) return;
    emit dataChanged(index(0, 0), index(list_.Count() - 1, kColumnCount - 1));
}

QStringList TFileListModel::ProgressTexts() {
    QStringList texts{QStringLiteral("100%")};
    for (TRowState state : {TRowState::Done, TRowState::DoneWithErrors, TRowState::Failed,
                            TRowState::Stopped, TRowState::Unreadable})
        texts.append(Translated(RowStateText(state)));
    return texts;
}
