#include "app/widgets/OptionsDialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <string_view>

#include "app/core/SettingsKeys.h"
#include "app/widgets/FontAdjustment.h"
#include "app/widgets/MainWindow.h"
#include "app/widgets/SettingsStore.h"
#include "component/HardwareEncoders.h"

// The texts app/core names for this dialog, for the translation tools.
static_assert(std::string_view(kOptionsCaption) ==
              QT_TRANSLATE_NOOP("TForm4", "Additional Options"));
static_assert(std::string_view(kOverwriteCaption) ==
              QT_TRANSLATE_NOOP("TForm4", "Overwrite Existing File With The Same Name"));
static_assert(std::string_view(kDropDownItemsCaption) ==
              QT_TRANSLATE_NOOP("TForm4", "Drop Down Items in Output Format List"));

TForm4::TForm4(TForm1* mainForm) : QDialog(mainForm), mainForm_(mainForm) {
    setObjectName("Form4");
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
    SpinEdit1 = new QSpinBox(group);
    SpinEdit1->setObjectName("SpinEdit1");
    SpinEdit1->setRange(kMinDropDownItems, kMaxDropDownItems);
    SpinEdit1->setValue(kDefaultDropDownItems);
    items->addWidget(SpinEdit1);
    auto* label = new QLabel(tr(kDropDownItemsCaption), group);
    label->setObjectName("Label1");
    label->setBuddy(SpinEdit1);
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

    connect(SpinEdit1, &QSpinBox::valueChanged, this, [this] { SpinEdit1Change(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    FormCreate();
    setFixedSize(sizeHint());
}

void TForm4::FormCreate() {
    if (IsNewerSystemVersion()) AdjustFont(this);
    mainForm_->SetOptionsDialog(this);
    LoadSettings(*mainForm_, *this);
}

bool TForm4::Overwrite() const {
    return CheckBoxOverWrite->isChecked();
}

void TForm4::SetOverwrite(bool overwrite) {
    CheckBoxOverWrite->setChecked(overwrite);
}

int TForm4::DropDownItems() const {
    return SpinEdit1->value();
}

void TForm4::SetDropDownItems(int items) {
    SpinEdit1->setValue(items);
}

void TForm4::SpinEdit1Change() {
    mainForm_->ApplyDropDownItems();
}

bool TForm4::ShowHardwareEncoders() {
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

void TForm4::Button1Click() {
    close();
}
