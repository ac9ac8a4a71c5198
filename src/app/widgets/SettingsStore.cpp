#include "app/widgets/SettingsStore.h"

#include <QSettings>
#include <QStringList>
#include <optional>

#include "app/core/SettingsKeys.h"
#include "app/widgets/MainWindow.h"
#include "app/widgets/OptionsDialog.h"

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

// Reads every value in order; false at the first that fails.
bool ReadAll(const QSettings& store, TForm1& mainForm, TForm4& options) {
    mainForm.SetOutputFolder(ReadString(store, kKeyOutputFolder));
    const auto format = ReadInteger(store, kKeyOutputFormat);
    if (!format) return false;
    if (*format >= 0) mainForm.SelectOutputFormatLine(*format);
    const auto overwrite = ReadInteger(store, kKeyOverwrite);
    if (!overwrite) return false;
    options.SetOverwrite(*overwrite != 0);
    const auto items = ReadInteger(store, kKeyDropDownItems);
    if (!items) return false;
    if (*items >= 0) options.SetDropDownItems(*items);
    const auto letterBox = ReadInteger(store, kKeyLetterBox);
    if (!letterBox) return false;
    if (*letterBox >= 0) mainForm.SelectLetterBox(*letterBox);
    return true;
}

}  // namespace

void SaveSettings(const TForm1& mainForm, const TForm4& options) {
    QSettings store(kSettingsOrganisation, kSettingsApplication);
    store.setValue(kKeyOutputFolder, mainForm.OutputFolder());
    store.setValue(kKeyOutputFormat, mainForm.OutputFormatLine());
    store.setValue(kKeyOverwrite, options.Overwrite() ? 1 : 0);
    store.setValue(kKeyDropDownItems, options.DropDownItems());
    store.setValue(kKeyLetterBox, mainForm.LetterBoxIndex());
    store.sync();
}

void LoadSettings(TForm1& mainForm, TForm4& options) {
    bool complete = false;
    {
        const QSettings store(kSettingsOrganisation, kSettingsApplication);
        complete = ReadAll(store, mainForm, options);
    }
    if (!complete) SaveSettings(mainForm, options);
}
