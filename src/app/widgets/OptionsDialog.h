// The options dialog: overwriting existing output files, the number of lines the output
// format list shows when it opens, and (read only) the hardware encoders this machine offers. Its
// choices take effect as they change; they are kept when the main window closes.
#pragma once

#include <QDialog>

class QCheckBox;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class TForm1;

class TForm4 : public QDialog {
    Q_OBJECT

  public:
    // Reads the settings store into its own controls and the main window's.
    explicit TForm4(TForm1* mainForm);

    bool Overwrite() const;
    void SetOverwrite(bool overwrite);
    int DropDownItems() const;
    // Brought into the dialog's range (26 ... 47).
    void SetDropDownItems(int items);

  private:
    void FormCreate();
    void SpinEdit1Change();
    void Button1Click();
    // The hardware encoders as the start-up survey found them, each available or not and why;
    // "Looking..." until the survey has ended.
    bool ShowHardwareEncoders();

    TForm1* mainForm_;
    QCheckBox* CheckBoxOverWrite = nullptr;
    QSpinBox* SpinEdit1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPlainTextEdit* HardwareList = nullptr;
};
