// The options dialog: overwriting existing output files, and the number of lines the output
// format list shows when it opens. It edits a copy of the user's settings and hands each change
// back at once (SettingsChanged), so that the choices take effect as they change.
#pragma once

#include <QDialog>

#include "app/core/SettingsKeys.h"

class QCheckBox;
class QPushButton;
class QSpinBox;

class TOptionsDialog : public QDialog {
    Q_OBJECT

  public:
    explicit TOptionsDialog(QWidget* parent);

    // Shows the options of these settings; the drop-down length is brought into the dialog's
    // range (26 ... 47). Hands nothing back.
    void SetSettings(const TUserSettings& settings);
    const TUserSettings& Settings() const { return settings_; }

  signals:
    // The user changed an option: the settings as they now are.
    void SettingsChanged(const TUserSettings& settings);

  private:
    void FormCreate();
    void OptionChanged();
    void Button1Click();

    TUserSettings settings_;
    QCheckBox* CheckBoxOverWrite = nullptr;
    QSpinBox* dropDownItemsSpin = nullptr;
    QPushButton* Button1 = nullptr;
};
