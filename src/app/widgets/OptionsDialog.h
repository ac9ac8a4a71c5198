// The options dialog: overwriting existing output files, the number of lines the output
// format list shows when it opens, and (read only) the hardware encoders this machine offers. Its
// choices take effect as they change: it edits a copy of the user's settings and hands each
// change back at once (SettingsChanged).
#pragma once

#include <QDialog>

#include "app/core/SettingsKeys.h"

class QCheckBox;
class QPlainTextEdit;
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
    // The hardware encoders as the start-up survey found them, each available or not and why;
    // "Looking..." until the survey has ended.
    bool ShowHardwareEncoders();

    TUserSettings settings_;
    QCheckBox* CheckBoxOverWrite = nullptr;
    QSpinBox* dropDownItemsSpin = nullptr;
    QPushButton* Button1 = nullptr;
    QPlainTextEdit* HardwareList = nullptr;
};
