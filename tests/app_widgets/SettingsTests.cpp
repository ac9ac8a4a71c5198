// The settings store, the options dialog and the about box: the first run's defaults, choices
// surviving a restart, the read-error rule, values out of range, and options taking effect as
// they change.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTableView>
#include <QThread>
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "WidgetTestSupport.h"
#include "app/core/ProfileCatalogue.h"
#include "app/core/SettingsKeys.h"
#include "app/widgets/ApplicationForms.h"
#include "component/HardwareEncoders.h"
#include "support/TestMedia.h"
#include "support/WaitUntil.h"

namespace {

using TStored = std::map<std::string, std::string>;

class SettingsTest : public TWidgetTest {
  protected:
    // Starts the program's windows as it starts them.
    void Start() {
        forms_ = std::make_unique<TApplicationForms>(nullptr);
        ASSERT_TRUE(forms_->MainWindow->LibrariesLoaded());
        forms_->MainWindow->show();
    }
    // Closes the main window as the user does, and ends the program.
    void Quit() {
        ASSERT_TRUE(forms_->MainWindow->close());
        forms_.reset();
    }
    void Store(const TStored& values) {
        QSettings store(kSettingsOrganisation, kSettingsApplication);
        for (const auto& [name, value] : values) {
            store.setValue(QString::fromStdString(name), QString::fromStdString(value));
        }
    }
    TStored Stored() {
        QSettings store(kSettingsOrganisation, kSettingsApplication);
        TStored values;
        // The values the store has always held; the window keeps its own state in a group.
        for (const QString& name : store.childKeys()) {
            values[name.toStdString()] = store.value(name).toString().toStdString();
        }
        return values;
    }
    QComboBox* Combo(const char* name) { return Child<QComboBox>(forms_->MainWindow.get(), name); }
    QSpinBox* Spin() { return Child<QSpinBox>(forms_->OptionsDialog.get(), "dropDownItemsSpin"); }
    QCheckBox* Overwrite() {
        return Child<QCheckBox>(forms_->OptionsDialog.get(), "CheckBoxOverWrite");
    }

    std::unique_ptr<TApplicationForms> forms_;
};

TEST_F(SettingsTest, FirstRunWritesTheDefaults) {
    Start();
    EXPECT_EQ(Stored(), (TStored{{"Output Folder", ""},
                                 {"ComboOutputFormat", std::to_string(kDefaultFormatLine)},
                                 {"Overwrite", "0"},
                                 {"DropDownItems", "26"},
                                 {"LetterBox", "0"}}));
    EXPECT_EQ(Combo("ComboOutputFormat")->currentText(), "MP4 - H.264 + AAC");
    EXPECT_EQ(Spin()->value(), 26);
    EXPECT_FALSE(Overwrite()->isChecked());
}

TEST_F(SettingsTest, ChoicesSurviveARestart) {
    Start();
    forms_->MainWindow->SetOutputFolder("/home/someone/Converted, new");
    ChooseFormatLine(Combo("ComboOutputFormat"), 23);  // MP3
    Combo("ComboLetterBox")->setCurrentIndex(1);
    Overwrite()->setChecked(true);
    Spin()->setValue(40);
    Quit();
    EXPECT_EQ(Stored(), (TStored{{"Output Folder", "/home/someone/Converted, new"},
                                 {"ComboOutputFormat", "23"},
                                 {"Overwrite", "1"},
                                 {"DropDownItems", "40"},
                                 {"LetterBox", "1"}}));

    Start();
    EXPECT_EQ(forms_->MainWindow->OutputFolder(), "/home/someone/Converted, new");
    EXPECT_EQ(Child<QLineEdit>(forms_->MainWindow.get(), "EditOutputFolder")->text(),
              "/home/someone/Converted, new");
    EXPECT_EQ(ChosenFormatLine(Combo("ComboOutputFormat")), 23);
    EXPECT_EQ(forms_->MainWindow->FormatKey(), "MP3");
    EXPECT_EQ(Combo("ComboVideoCodec")->count(), 0) << "the restored profile filled the lists";
    EXPECT_EQ(Combo("ComboAudioCodec")->currentText(), "mp3");
    EXPECT_EQ(Combo("ComboLetterBox")->currentIndex(), 1);
    EXPECT_TRUE(Overwrite()->isChecked());
    EXPECT_EQ(Spin()->value(), 40);
    EXPECT_EQ(Combo("ComboOutputFormat")->maxVisibleItems(), 40);
}

// The window's own state beside the settings: its size, the list's column widths, the number
// of files at once and the output beside the input.
TEST_F(SettingsTest, WindowSizeColumnsAndRunChoicesSurviveARestart) {
    Start();
    TMainWindow& form = *forms_->MainWindow;
    const QSize size = form.minimumSize() + QSize(40, 30);
    form.resize(size);
    auto* list = Child<QTableView>(&form, "fileTable");
    list->setColumnWidth(1, 123);
    form.SetParallelFiles(2);
    form.SetSameFolderAsInput(true);
    Quit();
    EXPECT_EQ(Stored().count("Window/Geometry"), 0u) << "kept in a group of its own";

    Start();
    EXPECT_EQ(forms_->MainWindow->size(), size);
    EXPECT_EQ(Child<QTableView>(forms_->MainWindow.get(), "fileTable")->columnWidth(1), 123);
    EXPECT_EQ(forms_->MainWindow->ParallelFiles(), std::min(2, QThread::idealThreadCount()));
    EXPECT_TRUE(forms_->MainWindow->SameFolderAsInput());
}

// A first start writes each output beside its input, as the command line does when no folder is
// named, so Go Convert converts instead of asking for a folder; a choice or a folder stored
// before stays as it was.
TEST_F(SettingsTest, FirstStartWritesBesideTheInputAndAStoredChoiceStays) {
    const struct {
        TStored stored;
        bool same;
    } cases[] = {
        {{}, true},
        {{{"Window/SameFolderAsInput", "0"}}, false},
        {{{"Output Folder", "/data/out"}}, false},
        {{{"Output Folder", "/data/out"}, {"Window/SameFolderAsInput", "1"}}, true},
    };
    for (const auto& [stored, same] : cases) {
        QSettings(kSettingsOrganisation, kSettingsApplication).clear();
        Store(stored);
        Start();
        EXPECT_EQ(forms_->MainWindow->SameFolderAsInput(), same) << stored.size();
        EXPECT_EQ(Child<QLineEdit>(forms_->MainWindow.get(), "EditOutputFolder")->isEnabled(),
                  !same);
        Quit();
    }

    QSettings(kSettingsOrganisation, kSettingsApplication).clear();
    Start();
    TTempDir media;
    WriteClip(media.File("clip.mp4"), TClipSpec{});
    AddFilesAndWait(*forms_->MainWindow, {QString::fromStdString(media.File("clip.mp4"))});
    Child<QPushButton>(forms_->MainWindow.get(), "ButtonConvert")->click();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].second.toStdString(), kMsgConversionUnavailable) << "no converter here";
}

TEST_F(SettingsTest, MistypedValueEndsReadingAndRewritesTheStore) {
    Store({{"Output Folder", "/data/out"},
           {"ComboOutputFormat", "10"},
           {"Overwrite", "yes"},
           {"DropDownItems", "40"},
           {"LetterBox", "1"}});
    Start();
    EXPECT_EQ(forms_->MainWindow->OutputFolder(), "/data/out");
    EXPECT_EQ(forms_->MainWindow->FormatKey(), "MP4") << "read before the mistyped value";
    EXPECT_FALSE(Overwrite()->isChecked());
    EXPECT_EQ(Spin()->value(), 26) << "not read after it";
    EXPECT_EQ(Combo("ComboLetterBox")->currentIndex(), 0);
    EXPECT_EQ(Stored(), (TStored{{"Output Folder", "/data/out"},
                                 {"ComboOutputFormat", "10"},
                                 {"Overwrite", "0"},
                                 {"DropDownItems", "26"},
                                 {"LetterBox", "0"}}));
}

// Stored values outside what the controls take.
struct TStoredCase {
    const char* name;
    const char* value;
    int formatLine;
    int dropDownItems;
    int letterBox;
};

class StoredRangeTest : public SettingsTest, public ::testing::WithParamInterface<TStoredCase> {};

TEST_P(StoredRangeTest, IsBroughtIntoRange) {
    TStored values{{"Output Folder", ""},
                   {"ComboOutputFormat", "2"},
                   {"Overwrite", "0"},
                   {"DropDownItems", "30"},
                   {"LetterBox", "0"}};
    values[GetParam().name] = GetParam().value;
    Store(values);
    Start();
    EXPECT_EQ(ChosenFormatLine(Combo("ComboOutputFormat")),
              GetParam().formatLine < 0 ? kDefaultFormatLine : GetParam().formatLine);
    EXPECT_NE(forms_->MainWindow->FormatKey(), "");
    EXPECT_EQ(Spin()->value(), GetParam().dropDownItems);
    EXPECT_EQ(Combo("ComboLetterBox")->currentIndex(), GetParam().letterBox);
}

INSTANTIATE_TEST_SUITE_P(
    Values, StoredRangeTest,
    ::testing::Values(TStoredCase{"DropDownItems", "100", 2, 47, 0},
                      TStoredCase{"DropDownItems", "3", 2, 26, 0},
                      TStoredCase{"DropDownItems", "-1", 2, 26, 0},
                      // The first start's choice: today's first profile.
                      TStoredCase{"ComboOutputFormat", "-1", -1, 30, 0},
                      TStoredCase{"ComboOutputFormat", "18", -1, 30, 0},   // a separator
                      TStoredCase{"ComboOutputFormat", "999", -1, 30, 0},  // beyond the list
                      TStoredCase{"LetterBox", "7", 2, 30, 0}),
    [](const auto& testInfo) {
        std::string name = std::string(testInfo.param.name) + "_" + testInfo.param.value;
        for (char& c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        }
        return name;
    });

// The start-up survey's findings, read only: every hardware encoder with its state and reason,
// the same words as `daziziz-cli encoders`.
TEST_F(SettingsTest, OptionsListEveryHardwareEncoderAsTheStartUpSurveyFoundIt) {
    Start();
    TOptionsDialog* options = forms_->OptionsDialog.get();
    auto* list = Child<QPlainTextEdit>(options, "HardwareList");
    EXPECT_TRUE(list->isReadOnly());
    const THardwareSurvey& survey = WaitForHardwareSurvey();
    ASSERT_TRUE(WaitUntil([&] {
        QCoreApplication::processEvents();
        return !list->toPlainText().startsWith("Looking");
    }));
    const QStringList lines = list->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), static_cast<qsizetype>(survey.Encoders.size()));
    for (std::size_t i = 0; i < survey.Encoders.size(); ++i) {
        const THardwareEncoder& encoder = survey.Encoders[i];
        EXPECT_EQ(lines[i].toStdString(), encoder.Name + "  " +
                                              (encoder.Available ? "available" : "not available") +
                                              ": " + encoder.Reason);
    }
    Quit();
}

TEST_F(SettingsTest, OptionsTakeEffectAsTheyChange) {
    Start();
    TOptionsDialog* options = forms_->OptionsDialog.get();
    EXPECT_EQ(options->windowTitle(), "Additional Options");
    EXPECT_EQ(Child<QGroupBox>(options, "GroupBox1")->title(), " Additional Options ");
    EXPECT_EQ(Overwrite()->text(), "Overwrite Existing File With The Same Name");
    EXPECT_EQ(Child<QLabel>(options, "Label1")->text(), "Drop Down Items in Output Format List");
    EXPECT_EQ(Spin()->minimum(), 26);
    EXPECT_EQ(Spin()->maximum(), 47);
    EXPECT_TRUE(options->windowFlags() & Qt::WindowStaysOnTopHint);

    forms_->MainWindow->ShowOptions();
    EXPECT_TRUE(options->isVisible());
    EXPECT_FALSE(options->isModal());
    Spin()->setValue(33);
    QComboBox* format = Combo("ComboOutputFormat");
    EXPECT_EQ(format->maxVisibleItems(), 33);
    QStyleOptionComboBox option;
    option.initFrom(format);
    EXPECT_EQ(format->style()->styleHint(QStyle::SH_ComboBox_Popup, &option, format), 0)
        << "the list's style honours the number of lines";
    Overwrite()->setChecked(true);
    EXPECT_TRUE(forms_->MainWindow->JobSettings().Overwrite);
    Child<QPushButton>(options, "Button1")->click();
    EXPECT_FALSE(options->isVisible());
    Quit();
    EXPECT_EQ(Stored()["DropDownItems"], "33");
    EXPECT_EQ(Stored()["Overwrite"], "1");
}

// The dialog is not modal: what the window's own controls chose while it was open stays.
TEST_F(SettingsTest, OptionsDialogHandsBackItsCopyAndLeavesTheWindowsOwnChoices) {
    Start();
    forms_->MainWindow->ShowOptions();
    forms_->MainWindow->SetOutputFolder("/data/chosen later");
    Combo("ComboLetterBox")->setCurrentIndex(1);
    std::vector<TUserSettings> handed;
    QObject::connect(forms_->OptionsDialog.get(), &TOptionsDialog::SettingsChanged,
                     [&](const TUserSettings& settings) { handed.push_back(settings); });
    Overwrite()->setChecked(true);
    Spin()->setValue(30);
    ASSERT_EQ(handed.size(), 2u);
    EXPECT_TRUE(handed[1].Overwrite);
    EXPECT_EQ(handed[1].DropDownItems, 30);
    EXPECT_EQ(forms_->MainWindow->OutputFolder(), "/data/chosen later");
    EXPECT_EQ(Combo("ComboLetterBox")->currentIndex(), 1);
    EXPECT_TRUE(forms_->MainWindow->JobSettings().Overwrite);

    // What the window hands the dialog is shown, not handed back again.
    TUserSettings settings = forms_->MainWindow->Settings();
    settings.Overwrite = false;
    settings.DropDownItems = 99;
    forms_->MainWindow->ApplySettings(settings);
    EXPECT_EQ(handed.size(), 2u);
    EXPECT_FALSE(Overwrite()->isChecked());
    EXPECT_EQ(Spin()->value(), 47);
    EXPECT_EQ(Combo("ComboOutputFormat")->maxVisibleItems(), 47);
    Quit();
    EXPECT_EQ(Stored()["Output Folder"], "/data/chosen later");
    EXPECT_EQ(Stored()["DropDownItems"], "47");
}

TEST_F(SettingsTest, AboutBoxShowsTheProductAndItsLinks) {
    Start();
    TFormAbout* about = forms_->FormAbout.get();
    EXPECT_EQ(Child<QLabel>(about, "ProductName")->text(), "Daziziz Izaza Zivudadov");
    EXPECT_TRUE(Child<QLabel>(about, "ProductName")->font().bold());
    EXPECT_TRUE(Child<QLabel>(about, "Label2")->text().contains(">Visit Vavuror Website<"));
    EXPECT_TRUE(Child<QLabel>(about, "Label3")->text().contains(">Contact Support Department<"));
    EXPECT_EQ(Child<QLabel>(about, "Label2")->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(Child<QPushButton>(about, "SpeedButton1")->text(), "OK");
    EXPECT_TRUE(about->windowFlags() & Qt::WindowStaysOnTopHint);
}

}  // namespace
