#include "app/widgets/ProfileList.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QStyle>
#include <algorithm>

#include "app/core/ProfileCatalogue.h"

void TDropDownComboBox::showPopup() {
    emit AboutToDropDown();
    QComboBox::showPopup();
}

void TProfileList::FillProfiles() {
    const QSignalBlocker blocker(this);
    clear();
    const auto& lines = OutputFormatLines();
    auto* items = qobject_cast<QStandardItemModel*>(model());
    QFont headingFont = font();
    headingFont.setBold(true);
    int widest = 0;
    for (const TProfileGroup& group : ProfileGroups()) {
        // A heading cannot be chosen; should one be chosen anyway, the choice steps back. The
        // headings are the main window's texts (named there for the translators).
        const QString heading = QCoreApplication::translate("TMainWindow", group.Heading.c_str());
        addItem(heading, -1);
        if (items) {
            QStandardItem* item = items->item(count() - 1);
            item->setFlags(Qt::NoItemFlags);
            item->setFont(headingFont);
        }
        widest = std::max(widest, QFontMetrics(headingFont).horizontalAdvance(heading));
        for (int line : group.Lines) {
            const QString name = QString::fromStdString(lines[line].Text);
            addItem(name, line);
            widest = std::max(widest, fontMetrics().horizontalAdvance(name));
        }
    }
    profileEntries_ = count();
    presetStart_ = -1;
    // Every name whole when the list is open, however narrow the box.
    view()->setMinimumWidth(widest + 2 * fontMetrics().averageCharWidth() +
                            style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}

void TProfileList::ShowPresets(const std::vector<TPreset>& presets, int selectedLine) {
    const QSignalBlocker blocker(this);
    while (count() > profileEntries_) removeItem(count() - 1);
    presetStart_ = -1;
    if (presets.empty()) return;
    // A heading of their own, which cannot be chosen, then the presets by name.
    addItem(QCoreApplication::translate("TMainWindow", "--- My Presets ---"));
    if (auto* items = qobject_cast<QStandardItemModel*>(model()))
        items->item(profileEntries_)->setFlags(Qt::NoItemFlags);
    presetStart_ = profileEntries_ + 1;
    for (const TPreset& preset : presets) addItem(QString::fromStdString(preset.Name));
    setCurrentIndex(IndexOfLine(selectedLine));
}

int TProfileList::LineOfIndex(int index) const {
    const QVariant line = itemData(index);
    return line.isValid() ? line.toInt() : -1;
}

void TProfileList::ShowLine(int line) {
    const QSignalBlocker blocker(this);
    setCurrentIndex(IndexOfLine(line));
}
