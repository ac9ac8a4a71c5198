// The Presets menu's side of the window: the user's presets, kept in the data folder, and the
// dialogs that save, rename, delete, export and import them. The window lists them in its
// profile list and applies them; it hears of every change through `changed`.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <functional>
#include <optional>

#include "app/core/UserData.h"

class QWidget;

class TPresetMenu {
    // Its texts are the main window's, where the translators have them.
    Q_DECLARE_TR_FUNCTIONS(TMainWindow)

  public:
    // Dialogs and messages open over `window`.
    TPresetMenu(QWidget* window, std::function<void()> changed);

    // Reads the presets file of the data folder (none when the folder is empty).
    void Load(const QString& dataFolder);
    // Where the presets file is saved from now on (the presets are not read again).
    void SetDataFolder(const QString& dataFolder) { dataFolder_ = dataFolder; }
    TPresetStore& Store() { return store_; }
    const TPresetStore& Store() const { return store_; }
    // Saves the preset (replacing one of the same name) and the presets file.
    bool Save(const TPreset& preset);

    // The name to save the current choices under, asked of the user; none when cancelled.
    std::optional<QString> AskNewName() const;
    void RenameClick();
    void DeleteClick();
    // The file dialogs start in `folder`.
    void ExportClick(const QString& folder) const;
    // How many presets were imported; none when nothing was.
    std::optional<int> ImportClick(const QString& folder);

  private:
    void SaveFile();
    QStringList Names() const;

    QWidget* window_;
    std::function<void()> changed_;
    QString dataFolder_;
    TPresetStore store_;
};
