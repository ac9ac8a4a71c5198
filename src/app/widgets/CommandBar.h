// The row of commands at the top of the window: adding, removing and clearing files, stopping
// and starting the conversion, opening the output folder, and the product's name and logo.
#pragma once

#include <QWidget>

class QPushButton;

class TCommandBar : public QWidget {
    Q_OBJECT

  public:
    explicit TCommandBar(QWidget* parent);

    // As a click on Add File: nothing while the button is disabled.
    void ClickAddFile();
    // Adding, removing, clearing and converting; stopping and opening stay.
    void SetControlsEnabled(bool enabled);

  signals:
    void AddFileClicked();
    void RemoveClicked();
    void ClearClicked();
    void StopClicked();
    void ConvertClicked();
    void OpenOutputClicked();

  private:
    QPushButton* AddButton(const char* name, const QString& caption, const QIcon& icon);

    QPushButton* addFileButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QPushButton* convertButton_ = nullptr;
};
