#include "app/widgets/OptionsDialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <string_view>

#include "app/widgets/FontAdjustment.h"
#include "component/HardwareEncoders.h"

// The texts app/core names for this dialog, for the translation tools.
static_assert(std::string_view(kOptionsCaption) ==
              QT_TRANSLATE_NOOP("TOptionsDialog", "Additional Options"));
static_assert(std::string_view(kOverwriteCaption) ==
              QT_TRANSLATE_NOOP("TOptionsDialog", "Overwrite Existing File With The Same Name"));
static_assert(std::string_view(kDropDownItemsCaption) ==
              QT_TRANSLATE_NOOP("TOptionsDialog", "Drop Down Items in Output Format List"));

TOptionsDialog::TOptionsDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("OptionsDialog");
    SetDesignedFont(this);
    setWindowTitle(tr(kOptionsCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);

    auto* page = new QVBoxLayout(this);
    auto* group = new QGroupBox(tr(" Additional Options "), this);
    group->setObjectName("GroupBox1");
    auto* inside = new QVBoxLayout(group);
    CheckBoxOverWrite = new QCheckBox(tr(kOverwriteCaption), group);
    CheckBoxOverWrite->setObjectName("CheckBoxOverWrite");
    CheckBoxOverWrite->setChecked(kDefaultOverwrite);
    inside->addWidget(CheckBoxOverWrite);
    auto* items = new QHBoxLayout;
    dropDownItemsSpin = new QSpinBox(group);
    dropDownItemsSpin->setObjectName("dropDownItemsSpin");
    dropDownItemsSpin->setRange(kMinDropDownItems, kMaxDropDownItems);
    dropDownItemsSpin->setValue(kDefaultDropDownItems);
    items->addWidget(dropDownItemsSpin);
    auto* label = new QLabel(tr(kDropDownItemsCaption), group);
    label->setObjectName("Label1");
    label->setBuddy(dropDownItemsSpin);
    items->addWidget(label, 1);
    inside->addLayout(items);
    page->addWidget(group);

    auto* hardware = new QGroupBox(tr(" Hardware Encoders "), this);
    hardware->setObjectName("GroupBoxHardware");
    auto* hardwareInside = new QVBoxLayout(hardware);
    HardwareList = new QPlainTextEdit(hardware);
    HardwareList->setObjectName("HardwareList");
    HardwareList->setReadOnly(true);
    HardwareList->setLineWrapMode(QPlainTextEdit::NoWrap);
    HardwareList->setMinimumWidth(480);
    HardwareList->setFixedHeight(HardwareList->fontMetrics().lineSpacing() * 9);
    hardwareInside->addWidget(HardwareList);
    page->addWidget(hardware);
    if (!ShowHardwareEncoders()) {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this, poll] {
            if (ShowHardwareEncoders()) poll->stop();
        });
        poll->start(500);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    Button1 = new QPushButton(tr("Done"), this);
    Button1->setObjectName("Button1");
    Button1->setDefault(true);
    buttons->addWidget(Button1);
    page->addLayout(buttons);

    connect(dropDownItemsSpin, &QSpinBox::valueChanged, this, [this] { OptionChanged(); });
    connect(CheckBoxOverWrite, &QCheckBox::toggled, this, [this] { OptionChanged(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    FormCreate();
    setFixedSize(sizeHint());
}

void TOptionsDialog::FormCreate() {
    if (IsNewerSystemVersion()) AdjustFont(this);
}

void TOptionsDialog::SetSettings(const TUserSettings& settings) {
    settings_ = settings;
    settings_.DropDownItems = DropDownItemsInRange(settings.DropDownItems);
    const QSignalBlocker overwriteBlocker(CheckBoxOverWrite);
    const QSignalBlocker itemsBlocker(dropDownItemsSpin);
    CheckBoxOverWrite->setChecked(settings_.Overwrite);
    dropDownItemsSpin->setValue(settings_.DropDownItems);
}

void TOptionsDialog::OptionChanged() {
    settings_.Overwrite = CheckBoxOverWrite->isChecked();
    settings_.DropDownItems = dropDownItemsSpin->value();
    emit SettingsChanged(settings_);
}

bool TOptionsDialog::ShowHardwareEncoders() {
    const THardwareSurvey* survey = HardwareSurveyIfReady();
    if (!survey) {
        HardwareList->setPlainText(tr("Looking for hardware encoders..."));
        return false;
    }
    QStringList lines;
    for (const THardwareEncoder& encoder : survey->Encoders)
        lines << QString::fromStdString(encoder.Name) + "  " +
                     (encoder.Available ? tr("available") : tr("not available")) + ": " +
                     QString::fromStdString(encoder.Reason);
    HardwareList->setPlainText(lines.join('\n'));
    return true;
}

void TOptionsDialog::Button1Click() {
    close();
}
