#include "app/widgets/CommandBar.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "app/widgets/ApplicationIcon.h"
#include "app/widgets/ProductName.h"
#include "app/widgets/WindowParts.h"

namespace {

// The bar's texts are the main window's, translated as they always were.
struct TWindowTexts {
    Q_DECLARE_TR_FUNCTIONS(TMainWindow)
};

// A text shown whole or not at all, where a cut one would look like a fault.
class TWholeOrNoLabel : public QLabel {
  public:
    using QLabel::QLabel;

  protected:
    void paintEvent(QPaintEvent* event) override {
        if (width() >= sizeHint().width()) QLabel::paintEvent(event);
    }
};

}  // namespace

TCommandBar::TCommandBar(QWidget* parent) : QWidget(parent) {
    setObjectName("CommandBar");
    auto* tools = new QHBoxLayout(this);
    tools->setContentsMargins(0, 0, 0, 0);
    tools->setSpacing(4);
    addFileButton_ = AddButton("ButtonAddFile", TWindowTexts::tr("Add File"),
                               ThemeIcon("list-add", QStyle::SP_FileDialogNewFolder));
    removeButton_ = AddButton("ButtonRemove", TWindowTexts::tr("Remove File"),
                              ThemeIcon("list-remove", QStyle::SP_TrashIcon));
    clearButton_ = AddButton("ButtonClear", TWindowTexts::tr("Clear All "),
                             ThemeIcon("edit-clear", QStyle::SP_DialogResetButton));
    QPushButton* stop = AddButton("ButtonStopConvert", TWindowTexts::tr("Stop Convert"),
                                  ThemeIcon("media-playback-stop", QStyle::SP_MediaStop));
    convertButton_ = AddButton("ButtonConvert", TWindowTexts::tr("Go Convert "),
                               ThemeIcon("media-playback-start", QStyle::SP_MediaPlay));
    QPushButton* open = AddButton("ButtonOpenOutput", TWindowTexts::tr("Open Output Folder"),
                                  ThemeIcon("folder-open", QStyle::SP_DirOpenIcon));
    auto* logo = new QLabel(this);
    logo->setPixmap(ApplicationIcon().pixmap(28, 28));
    tools->addWidget(logo);
    auto* product =
        Named(new TWholeOrNoLabel(TWindowTexts::tr(kMainCaption), this), "LabelProduct");
    QFont productFont = product->font();
    productFont.setBold(true);
    productFont.setPointSizeF(productFont.pointSizeF() * 1.15);
    product->setFont(productFont);
    // The name and logo give way first when the window is narrow; the name shows whole or not.
    product->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    product->setMinimumWidth(0);
    logo->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    tools->addWidget(product, 1);

    connect(addFileButton_, &QPushButton::clicked, this, [this] { emit AddFileClicked(); });
    connect(removeButton_, &QPushButton::clicked, this, [this] { emit RemoveClicked(); });
    connect(clearButton_, &QPushButton::clicked, this, [this] { emit ClearClicked(); });
    connect(stop, &QPushButton::clicked, this, [this] { emit StopClicked(); });
    connect(convertButton_, &QPushButton::clicked, this, [this] { emit ConvertClicked(); });
    connect(open, &QPushButton::clicked, this, [this] { emit OpenOutputClicked(); });
}

QPushButton* TCommandBar::AddButton(const char* name, const QString& caption, const QIcon& icon) {
    auto* button = Named(new QPushButton(icon, caption, this), name);
    button->setMinimumHeight(30);
    button->setIconSize(QSize(20, 20));
    button->setFocusPolicy(Qt::TabFocus);
    layout()->addWidget(button);
    return button;
}

void TCommandBar::ClickAddFile() {
    addFileButton_->click();
}

void TCommandBar::SetControlsEnabled(bool enabled) {
    for (QPushButton* button : {addFileButton_, clearButton_, removeButton_, convertButton_})
        button->setEnabled(enabled);
}
