#include "app/widgets/SettingsStore.h"

#include <QSettings>
#include <QStringList>
#include <optional>

namespace {

// A whole number stored under the name; none when it is missing or not a number.
std::optional<int> ReadInteger(const QSettings& store, const char* name) {
    const QVariant value = store.value(name);
    if (!value.isValid()) return std::nullopt;
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    if (!ok) return std::nullopt;
    return number;
}

QString ReadString(const QSettings& store, const char* name) {
    const QVariant value = store.value(name);
    // A text with commas written by hand reads as a list: it is the text all the same.
    if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(", ");
    return value.toString();
}

}  // namespace

bool ReadSettings(TUserSettings& settings) {
    const QSettings store(kSettingsOrganisation, kSettingsApplication);
    settings.OutputFolder = ReadString(store, kKeyOutputFolder).toStdString();
    // Each number is read only when those before it were.
    const auto format = ReadInteger(store, kKeyOutputFormat);
    if (!format) return false;
    if (*format >= 0) settings.OutputFormatLine = *format;
    const auto overwrite = ReadInteger(store, kKeyOverwrite);
    if (!overwrite) return false;
    settings.Overwrite = *overwrite != 0;
    const auto items = ReadInteger(store, kKeyDropDownItems);
    if (!items) return false;
    if (*items >= 0) settings.DropDownItems = *items;
    const auto letterBox = ReadInteger(store, kKeyLetterBox);
    if (!letterBox) return false;
    if (*letterBox >= 0) settings.LetterBox = *letterBox;
    return true;
}

void WriteSettings(const TUserSettings& settings) {
    QSettings store(kSettingsOrganisation, kSettingsApplication);
    store.setValue(kKeyOutputFolder, QString::fromStdString(settings.OutputFolder));
    store.setValue(kKeyOutputFormat, settings.OutputFormatLine);
    store.setValue(kKeyOverwrite, settings.Overwrite ? 1 : 0);
    store.setValue(kKeyDropDownItems, settings.DropDownItems);
    store.setValue(kKeyLetterBox, settings.LetterBox);
    store.sync();
}
