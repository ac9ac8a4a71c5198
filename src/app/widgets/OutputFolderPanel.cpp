#include "app/widgets/OutputFolderPanel.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>

#include "app/widgets/WindowParts.h"

namespace {

// The panel's texts are the main window's, translated as they always were.
struct TWindowTexts {
    Q_DECLARE_TR_FUNCTIONS(TMainWindow)
};

}  // namespace

TOutputFolderPanel::TOutputFolderPanel(QWidget* parent) : QWidget(parent) {
    setObjectName("OutputFolderPanel");
    auto* output = new QHBoxLayout(this);
    output->setContentsMargins(0, 0, 0, 0);
    output->setSpacing(4);
    output->addWidget(NamedLabel(TWindowTexts::tr("Output Folder :"), this));
    folderEdit_ = Named(new QLineEdit(this), "EditOutputFolder");
    folderEdit_->setPlaceholderText(TWindowTexts::tr("Type or choose a folder"));
    folderEdit_->setMinimumWidth(fontMetrics().averageCharWidth() * 10);
    output->addWidget(folderEdit_, 1);
    browseButton_ = Named(new QToolButton(this), "ButtonBrowseForFolder");
    browseButton_->setIcon(ThemeIcon("folder-open", QStyle::SP_DirOpenIcon));
    browseButton_->setToolTip(TWindowTexts::tr("Choose the output folder"));
    output->addWidget(browseButton_);
    sameFolderCheck_ =
        Named(new QCheckBox(TWindowTexts::tr("Same folder as the input"), this), "CheckSameFolder");
    output->addWidget(sameFolderCheck_);

    connect(sameFolderCheck_, &QCheckBox::toggled, this, [this](bool same) {
        folderEdit_->setEnabled(!same);
        browseButton_->setEnabled(!same);
        emit SameFolderToggled(same);
    });
    connect(folderEdit_, &QLineEdit::textEdited, this, [this] { emit FolderEdited(); });
    connect(browseButton_, &QToolButton::clicked, this, [this] { emit BrowseClicked(); });
}

QString TOutputFolderPanel::Folder() const {
    return folderEdit_->text();
}

void TOutputFolderPanel::SetFolder(const QString& folder) {
    folderEdit_->setText(folder);
    folderEdit_->setToolTip(folder);
}

bool TOutputFolderPanel::SameFolderAsInput() const {
    return sameFolderCheck_->isChecked();
}

void TOutputFolderPanel::SetSameFolderAsInput(bool same) {
    sameFolderCheck_->setChecked(same);
}

void TOutputFolderPanel::SetControlsEnabled(bool enabled) {
    sameFolderCheck_->setEnabled(enabled);
    folderEdit_->setEnabled(enabled && !SameFolderAsInput());
}
