// The profile list of the main window ("Set Output Format"): the catalogue's profiles under
// headings that cannot be chosen, then the user's presets under a heading of their own. Each
// profile entry holds its line of OutputFormatLines(); headings and presets hold none.
#pragma once

#include <QComboBox>
#include <vector>

#include "app/core/UserData.h"

// A drop-down list that reports when it is about to open.
class TDropDownComboBox : public QComboBox {
    Q_OBJECT

  public:
    using QComboBox::QComboBox;
    void showPopup() override;

  signals:
    void AboutToDropDown();
};

class TProfileList : public TDropDownComboBox {
    Q_OBJECT

  public:
    using TDropDownComboBox::TDropDownComboBox;

    // The catalogue's groups and profiles; the presets are shown again after it.
    void FillProfiles();
    // The presets after the catalogue, and the entry of `selectedLine` chosen again.
    void ShowPresets(const std::vector<TPreset>& presets, int selectedLine);

    int IndexOfLine(int line) const { return findData(line); }
    // The line of an entry; -1 for a heading or a preset.
    int LineOfIndex(int index) const;
    bool IsPreset(int index) const { return presetStart_ >= 0 && index >= presetStart_; }
    // Chooses the line's entry without telling anyone.
    void ShowLine(int line);

  private:
    int profileEntries_ = 0;  // entries before the presets
    int presetStart_ = -1;    // the first preset's entry, -1 when there is none
};
