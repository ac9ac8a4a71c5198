// The output folder line: the folder typed or chosen, or the output beside each input.
#pragma once

#include <QString>
#include <QWidget>

class QCheckBox;
class QLineEdit;
class QToolButton;

class TOutputFolderPanel : public QWidget {
    Q_OBJECT

  public:
    explicit TOutputFolderPanel(QWidget* parent);

    QString Folder() const;
    void SetFolder(const QString& folder);
    bool SameFolderAsInput() const;
    void SetSameFolderAsInput(bool same);
    // While a run goes on the choice stays as it is.
    void SetControlsEnabled(bool enabled);

  signals:
    void FolderEdited();
    void SameFolderToggled(bool same);
    void BrowseClicked();

  private:
    QLineEdit* folderEdit_ = nullptr;
    QToolButton* browseButton_ = nullptr;
    QCheckBox* sameFolderCheck_ = nullptr;
};
