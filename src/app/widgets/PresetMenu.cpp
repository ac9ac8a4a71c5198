#include "app/widgets/PresetMenu.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QStringList>
#include <filesystem>

#include "app/widgets/MessageBoxes.h"

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::filesystem::path PresetsFile(const QString& dataFolder) {
    return std::filesystem::path(dataFolder.toStdString()) / kPresetsFileName;
}

}  // namespace

TPresetMenu::TPresetMenu(QWidget* window, std::function<void()> changed)
    : window_(window), changed_(std::move(changed)) {}

void TPresetMenu::Load(const QString& dataFolder) {
    dataFolder_ = dataFolder;
    if (dataFolder_.isEmpty()) return;
    const auto text = ReadWholeFile(PresetsFile(dataFolder_));
    if (text && !store_.Load(*text)) qWarning("The presets file cannot be read");
}

void TPresetMenu::SaveFile() {
    if (!dataFolder_.isEmpty()) {
        std::string error;
        if (!WriteFileAtomically(PresetsFile(dataFolder_), store_.Json(), error))
            ShowInformation(window_, tr("The presets cannot be saved: %1").arg(Q(error)));
    }
    changed_();
}

bool TPresetMenu::Save(const TPreset& preset) {
    if (!store_.Save(preset)) return false;
    SaveFile();
    return true;
}

QStringList TPresetMenu::Names() const {
    QStringList names;
    for (const TPreset& preset : store_.Presets()) names.append(Q(preset.Name));
    return names;
}

std::optional<QString> TPresetMenu::AskNewName() const {
    bool ok = false;
    const QString name = QInputDialog::getText(window_, tr("Save Preset"), tr("Preset name:"),
                                               QLineEdit::Normal, QString(), &ok);
    if (!ok || name.trimmed().isEmpty()) return std::nullopt;
    return name;
}

void TPresetMenu::RenameClick() {
    const QStringList names = Names();
    if (names.isEmpty()) return;
    bool ok = false;
    const QString old =
        QInputDialog::getItem(window_, tr("Rename Preset"), tr("Preset:"), names, 0, false, &ok);
    if (!ok) return;
    const QString name = QInputDialog::getText(window_, tr("Rename Preset"), tr("New name:"),
                                               QLineEdit::Normal, old, &ok);
    if (!ok) return;
    if (!store_.Rename(old.toStdString(), name.trimmed().toStdString())) {
        ShowInformation(window_, tr("A preset named \"%1\" exists already.").arg(name.trimmed()));
        return;
    }
    SaveFile();
}

void TPresetMenu::DeleteClick() {
    const QStringList names = Names();
    if (names.isEmpty()) return;
    bool ok = false;
    const QString name =
        QInputDialog::getItem(window_, tr("Delete Preset"), tr("Preset:"), names, 0, false, &ok);
    if (!ok || !store_.Remove(name.toStdString())) return;
    SaveFile();
}

void TPresetMenu::ExportClick(const QString& folder) const {
    const QString file =
        QFileDialog::getSaveFileName(window_, tr("Export Presets"), folder, tr("Presets (*.json)"));
    if (file.isEmpty()) return;
    std::string error;
    if (!WriteFileAtomically(file.toStdString(), store_.Json(), error))
        ShowInformation(window_, tr("The presets cannot be exported: %1").arg(Q(error)));
}

std::optional<int> TPresetMenu::ImportClick(const QString& folder) {
    const QString file =
        QFileDialog::getOpenFileName(window_, tr("Import Presets"), folder, tr("Presets (*.json)"));
    if (file.isEmpty()) return std::nullopt;
    const auto text = ReadWholeFile(file.toStdString());
    const auto added = text ? store_.Import(*text) : std::nullopt;
    if (!added) {
        ShowInformation(window_, tr("\"%1\" holds no presets.").arg(file));
        return std::nullopt;
    }
    SaveFile();
    return static_cast<int>(*added);
}
