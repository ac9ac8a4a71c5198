#include "app/widgets/AboutBox.h"

#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/widgets/ApplicationIcon.h"
#include "app/widgets/FontAdjustment.h"
#include "app/widgets/ProductName.h"

namespace {

// A blue, underlined text with the hand cursor that runs the handler when clicked.
QLabel* Link(const char* name, const QString& text, QWidget* parent, std::function<void()> click) {
    auto* label =
        new QLabel(QString("<a href=\"#\" style=\"color:#0000ff;\">%1</a>").arg(text), parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setCursor(Qt::PointingHandCursor);
    QObject::connect(label, &QLabel::linkActivated, parent, [click] { click(); });
    return label;
}

}  // namespace

TFormAbout::TFormAbout(QWidget* mainForm) : QDialog(mainForm) {
    setObjectName("FormAbout");
    SetDesignedFont(this);
    setWindowTitle(tr("About"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);

    auto* page = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setObjectName("Image1");
    icon->setPixmap(ApplicationIcon().pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    top->addSpacing(8);

    auto* texts = new QVBoxLayout;
    auto* product = new QLabel(tr(kMainCaption), this);
    product->setObjectName("ProductName");
    QFont bold = product->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() + 2);
    product->setFont(bold);
    texts->addWidget(product);
    auto* version = new QLabel(tr("Version %1").arg(DZ_VERSION), this);
    version->setObjectName("Version");
    texts->addWidget(version);
    texts->addSpacing(6);
    Label2 = Link("Label2", tr("Visit Vavuror Website"), this, [this] { Label2Click(); });
    texts->addWidget(Label2);
    Label3 = Link("Label3", tr("Contact Support Department"), this, [this] { Label3Click(); });
    texts->addWidget(Label3);
    top->addLayout(texts, 1);
    page->addLayout(top);

    auto* line = new QFrame(this);
    line->setObjectName("Bevel1");
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    page->addWidget(line);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    SpeedButton1 = new QPushButton(tr("OK"), this);
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setDefault(true);
    connect(SpeedButton1, &QPushButton::clicked, this, [this] { SpeedButton1Click(); });
    buttons->addWidget(SpeedButton1);
    page->addLayout(buttons);

    FormCreate();
    setFixedSize(sizeHint().expandedTo(QSize(340, 0)));
}

void TFormAbout::FormCreate() {
    if (IsNewerSystemVersion()) AdjustFont(this);
}

void TFormAbout::Label2Click() {
    QDesktopServices::openUrl(QUrl(kVavurorWebsite));
}

void TFormAbout::Label3Click() {
    QDesktopServices::openUrl(QUrl(kSupportAddress));
}

void TFormAbout::SpeedButton1Click() {
    accept();
}
