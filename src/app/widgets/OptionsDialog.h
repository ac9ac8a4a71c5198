// The options dialog: overwriting existing output files, and the number of lines the output
// format list shows when it opens. Its choices take effect as they change; they are kept when
// the main window closes.
#pragma once

#include <QDialog>

class QCheckBox;
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

    TForm1* mainForm_;
    QCheckBox* CheckBoxOverWrite = nullptr;
    QSpinBox* SpinEdit1 = nullptr;
    QPushButton* Button1 = nullptr;
};
