#include "app/widgets/OutputSettingsPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>
#include <cmath>
#include <utility>

#include "app/core/JobBuilder.h"
#include "app/widgets/WindowParts.h"

namespace {

// The panel's texts are the main window's, translated as they always were.
struct TWindowTexts {
    Q_DECLARE_TR_FUNCTIONS(TMainWindow)
};

}  // namespace

TOutputSettingsPanel::TOutputSettingsPanel(TParameterLists& params, QWidget* parent)
    : QScrollArea(parent), params_(params) {
    setObjectName("ScrollSettings");
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    auto* panel = new QWidget(this);
    AddGroups(panel);
    setWidget(panel);

    // A choice in a parameter list goes into the window's lists, which the job builder reads.
    const std::pair<QComboBox*, TChoiceList TParameterLists::*> lists[] = {
        {videoCodecCombo_, &TParameterLists::VideoCodec},
        {videoSizeCombo_, &TParameterLists::VideoSize},
        {videoBitrateCombo_, &TParameterLists::VideoBitrate},
        {videoFramerateCombo_, &TParameterLists::VideoFramerate},
        {audioCodecCombo_, &TParameterLists::AudioCodec},
        {audioBitrateCombo_, &TParameterLists::AudioBitrate},
        {samplingRateCombo_, &TParameterLists::SamplingRate},
        {audioChannelsCombo_, &TParameterLists::AudioChannels},
        {aspectRatioCombo_, &TParameterLists::AspectRatio},
        {qualityCombo_, &TParameterLists::Quality},
    };
    for (const auto& [combo, list] : lists) {
        connect(combo, &QComboBox::currentIndexChanged, this, [this, list](int index) {
            (params_.*list).Selected = index;
            emit ParameterChosen();
        });
    }
    connect(fitSizeCheck_, &QCheckBox::toggled, this, [this] { emit FitSizeToggled(); });
    connect(fitSizeSpin_, &QDoubleSpinBox::valueChanged, this, [this] { emit ChoiceChanged(); });
    connect(reencodeCheck_, &QCheckBox::toggled, this, [this] { emit ChoiceChanged(); });
    connect(letterBoxCombo_, &QComboBox::currentIndexChanged, this,
            [this] { emit ChoiceChanged(); });
    connect(volumeSlider_, &QSlider::valueChanged, this, [this](int position) {
        volumeLabel_->setText(QString::fromStdString(VolumeLabel(position)));
        emit VolumeChanged(position);
    });
}

void TOutputSettingsPanel::AddGroups(QWidget* panel) {
    auto* groups = new QHBoxLayout(panel);
    groups->setContentsMargins(0, 0, 0, 0);
    groups->setSpacing(6);
    // The groups share the width by what their lists hold at most: the video lists have the
    // longest entries ("Original Video Size", "23.976 fps [NTSC]").
    AddAudioGroup(AddGroup(groups, TWindowTexts::tr(" Audio Settings "), "GroupAudioSettings", 20));
    AddVideoGroup(AddGroup(groups, TWindowTexts::tr(" Video Settings "), "GroupVideoSettings", 27));
    AddGeneralGroup(
        AddGroup(groups, TWindowTexts::tr(" General Settings "), "GroupGeneralSettings", 24));
}

QGridLayout* TOutputSettingsPanel::AddGroup(QHBoxLayout* groups, const QString& title,
                                            const char* name, int stretch) {
    auto* box = Named(new QGroupBox(title, groups->parentWidget()), name);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(3);
    grid->setColumnStretch(1, 1);
    groups->addWidget(box, stretch);
    return grid;
}

QComboBox* TOutputSettingsPanel::AddRow(QGridLayout* grid, int at, const QString& caption,
                                        const char* name) {
    grid->addWidget(NamedLabel(caption, grid->parentWidget()), at, 0);
    auto* combo = Named(new QComboBox(grid->parentWidget()), name);
    combo->setMinimumContentsLength(4);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    grid->addWidget(combo, at, 1);
    return combo;
}

void TOutputSettingsPanel::AddAudioGroup(QGridLayout* audio) {
    audioCodecCombo_ = AddRow(audio, 0, TWindowTexts::tr("Audio Codec : "), "ComboAudioCodec");
    audioBitrateCombo_ = AddRow(audio, 1, TWindowTexts::tr("Audio Bitrate :"), "ComboAudioBitrate");
    audioChannelsCombo_ =
        AddRow(audio, 2, TWindowTexts::tr("Audio Channels :"), "ComboAudioChannels");
    samplingRateCombo_ =
        AddRow(audio, 3, TWindowTexts::tr("Sampling Rate : "), "ComboSamplingRate");
}

void TOutputSettingsPanel::AddVideoGroup(QGridLayout* video) {
    videoCodecCombo_ = AddRow(video, 0, TWindowTexts::tr("Video Codec : "), "ComboVideoCodec");
    videoSizeCombo_ = AddRow(video, 1, TWindowTexts::tr("Video Size : "), "ComboVideoSize");
    videoBitrateCombo_ =
        AddRow(video, 2, TWindowTexts::tr("Video Bitrate : "), "ComboVideoBitrate");
    videoFramerateCombo_ =
        AddRow(video, 3, TWindowTexts::tr("Video Framerate : "), "ComboVideoFramerate");
    // Fit to size: the video's rate follows from the size, so it sits with the video's lists.
    QWidget* box = video->parentWidget();
    fitSizeCheck_ = Named(new QCheckBox(TWindowTexts::tr("Fit to Size :"), box), "CheckFitSize");
    fitSizeCheck_->setToolTip(TWindowTexts::tr(
        "Make each output at most this size, in two passes (video profiles; nothing is "
        "copied)"));
    video->addWidget(fitSizeCheck_, 4, 0);
    fitSizeSpin_ = Named(new QDoubleSpinBox(box), "SpinFitSize");
    fitSizeSpin_->setDecimals(1);
    fitSizeSpin_->setRange(0.1, 99999.9);
    fitSizeSpin_->setValue(25.0);
    fitSizeSpin_->setSuffix(TWindowTexts::tr(" MB"));
    fitSizeSpin_->setToolTip(TWindowTexts::tr("1 MB = 1,000,000 bytes"));
    fitSizeSpin_->setEnabled(false);
    video->addWidget(fitSizeSpin_, 4, 1);
}

void TOutputSettingsPanel::AddGeneralGroup(QGridLayout* general) {
    QWidget* panel = general->parentWidget();  // the group's box
    letterBoxCombo_ = AddRow(general, 0, TWindowTexts::tr("Video Zoom : "), "ComboLetterBox");
    letterBoxCombo_->setToolTip(TWindowTexts::tr("Add a letterbox to keep video aspect ratio"));
    letterBoxCombo_->setToolTipDuration(kHintMs);
    aspectRatioCombo_ = AddRow(general, 1, TWindowTexts::tr("Aspect Ratio : "), "ComboAspectRatio");
    general->addWidget(NamedLabel(TWindowTexts::tr("Volume : "), panel), 2, 0);
    auto* volume = new QHBoxLayout;
    volumeSlider_ = Named(new QSlider(Qt::Horizontal, panel), "volumeSlider");
    volumeSlider_->setRange(0, 10);
    volumeSlider_->setPageStep(1);
    volumeSlider_->setTickPosition(QSlider::TicksBelow);
    volumeSlider_->setTickInterval(1);
    volume->addWidget(volumeSlider_, 1);
    volumeLabel_ = Named(new QLabel(panel), "LabelVolume");
    volumeLabel_->setMinimumWidth(fontMetrics().horizontalAdvance("200%") + 4);
    volumeLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    volume->addWidget(volumeLabel_);
    general->addLayout(volume, 2, 1);
    qualityCombo_ = AddRow(general, 3, TWindowTexts::tr("Quality : "), "ComboQuality");
    reencodeCheck_ =
        Named(new QCheckBox(TWindowTexts::tr("Re-encode streams that could be copied"), panel),
              "CheckReencode");
    general->addWidget(reencodeCheck_, 4, 0, 1, 2);
    general->setRowStretch(5, 1);
}

void TOutputSettingsPanel::ShowLists() {
    const std::pair<QComboBox*, const TChoiceList*> lists[] = {
        {videoCodecCombo_, &params_.VideoCodec},
        {videoSizeCombo_, &params_.VideoSize},
        {videoBitrateCombo_, &params_.VideoBitrate},
        {videoFramerateCombo_, &params_.VideoFramerate},
        {audioCodecCombo_, &params_.AudioCodec},
        {audioBitrateCombo_, &params_.AudioBitrate},
        {samplingRateCombo_, &params_.SamplingRate},
        {audioChannelsCombo_, &params_.AudioChannels},
        {aspectRatioCombo_, &params_.AspectRatio},
        {qualityCombo_, &params_.Quality},
    };
    for (const auto& [combo, list] : lists) {
        const QSignalBlocker blocker(combo);
        combo->clear();
        for (const std::string& entry : list->Items) combo->addItem(QString::fromStdString(entry));
        combo->setCurrentIndex(list->Selected);
    }
}

void TOutputSettingsPanel::FillLetterBox(const std::vector<std::string>& entries) {
    const QSignalBlocker blocker(letterBoxCombo_);
    letterBoxCombo_->clear();
    for (const std::string& entry : entries)
        letterBoxCombo_->addItem(TWindowTexts::tr(entry.c_str()));
    letterBoxCombo_->setCurrentIndex(0);
}

int TOutputSettingsPanel::LetterBoxIndex() const {
    return letterBoxCombo_->currentIndex();
}

void TOutputSettingsPanel::SelectLetterBox(int index) {
    if (index >= 0 && index < letterBoxCombo_->count()) letterBoxCombo_->setCurrentIndex(index);
}

int TOutputSettingsPanel::AspectCount() const {
    return aspectRatioCombo_->count();
}

int TOutputSettingsPanel::VolumePosition() const {
    return volumeSlider_->value();
}

void TOutputSettingsPanel::SetVolumePosition(int position) {
    volumeSlider_->setValue(std::clamp(position, 0, 10));
    // The label shows the position even when the slider did not move.
    volumeLabel_->setText(QString::fromStdString(VolumeLabel(volumeSlider_->value())));
}

bool TOutputSettingsPanel::Reencode() const {
    return reencodeCheck_->isChecked();
}

std::int64_t TOutputSettingsPanel::FitSizeBytes() const {
    if (!fitSizeCheck_->isChecked()) return 0;
    return static_cast<std::int64_t>(std::llround(fitSizeSpin_->value() * 1e6));
}

void TOutputSettingsPanel::SetFitSizeBytes(std::int64_t bytes) {
    if (bytes > 0) fitSizeSpin_->setValue(double(bytes) / 1e6);
    fitSizeCheck_->setChecked(bytes > 0);
}

void TOutputSettingsPanel::EnableFitSize(bool enabled, bool writesVideo) {
    fitSizeCheck_->setEnabled(enabled && writesVideo);
    fitSizeSpin_->setEnabled(enabled && writesVideo && fitSizeCheck_->isChecked());
}

void TOutputSettingsPanel::SetControlsEnabled(bool enabled) {
    for (QWidget* control : std::initializer_list<QWidget*>{
             videoSizeCombo_, videoBitrateCombo_, videoFramerateCombo_, audioBitrateCombo_,
             audioChannelsCombo_, videoCodecCombo_, samplingRateCombo_, audioCodecCombo_,
             volumeSlider_, aspectRatioCombo_, letterBoxCombo_, qualityCombo_, reencodeCheck_}) {
        control->setEnabled(enabled);
    }
}
