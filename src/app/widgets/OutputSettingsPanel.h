// The output settings under the file list: the audio and video parameter lists, fit to size,
// the zoom, aspect ratio, volume, quality and re-encoding. The panel shows the window's
// parameter lists and writes the user's choice in them back; its other choices it keeps itself.
#pragma once

#include <QScrollArea>
#include <cstdint>
#include <string>
#include <vector>

#include "app/core/ProfileCatalogue.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QSlider;

class TOutputSettingsPanel : public QScrollArea {
    Q_OBJECT

  public:
    TOutputSettingsPanel(TParameterLists& params, QWidget* parent);

    // Fills the lists from the parameter lists, without reporting a choice.
    void ShowLists();
    void FillLetterBox(const std::vector<std::string>& entries);
    int LetterBoxIndex() const;
    // An index outside the list changes nothing.
    void SelectLetterBox(int index);
    int AspectCount() const;
    int VolumePosition() const;
    void SetVolumePosition(int position);
    bool Reencode() const;
    // The largest output in bytes while fit to size is ticked, else 0.
    std::int64_t FitSizeBytes() const;
    // Ticks fit to size with the size given, or unticks it for 0.
    void SetFitSizeBytes(std::int64_t bytes);
    // Fit to size is for profiles that write video, and only while the controls are enabled.
    void EnableFitSize(bool enabled, bool writesVideo);
    // Every control but fit to size, which follows EnableFitSize.
    void SetControlsEnabled(bool enabled);

  signals:
    // A parameter list's choice, already written into the parameter lists.
    void ParameterChosen();
    void VolumeChanged(int position);
    void FitSizeToggled();
    // The fit's size, the zoom or re-encoding.
    void ChoiceChanged();

  private:
    void AddGroups(QWidget* panel);
    QGridLayout* AddGroup(QHBoxLayout* groups, const QString& title, const char* name, int stretch);
    QComboBox* AddRow(QGridLayout* grid, int at, const QString& caption, const char* name);
    void AddAudioGroup(QGridLayout* audio);
    void AddVideoGroup(QGridLayout* video);
    void AddGeneralGroup(QGridLayout* general);

    TParameterLists& params_;
    QComboBox* audioCodecCombo_ = nullptr;
    QComboBox* audioBitrateCombo_ = nullptr;
    QComboBox* audioChannelsCombo_ = nullptr;
    QComboBox* samplingRateCombo_ = nullptr;
    QComboBox* videoCodecCombo_ = nullptr;
    QComboBox* videoSizeCombo_ = nullptr;
    QComboBox* videoBitrateCombo_ = nullptr;
    QComboBox* videoFramerateCombo_ = nullptr;
    QComboBox* letterBoxCombo_ = nullptr;
    QComboBox* aspectRatioCombo_ = nullptr;
    QComboBox* qualityCombo_ = nullptr;
    QCheckBox* reencodeCheck_ = nullptr;
    QCheckBox* fitSizeCheck_ = nullptr;
    QDoubleSpinBox* fitSizeSpin_ = nullptr;
    QSlider* volumeSlider_ = nullptr;
    QLabel* volumeLabel_ = nullptr;
};
