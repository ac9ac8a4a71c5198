#include "app/widgets/MessageBoxes.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <string_view>

#include "app/core/ConversionQueue.h"

namespace {

// The captions app/core names, for the translation tools.
static_assert(std::string_view(kCaptionInformation) ==
              QT_TRANSLATE_NOOP("TMessageBoxes", "Information"));
static_assert(std::string_view(kCaptionConfirmation) ==
              QT_TRANSLATE_NOOP("TMessageBoxes", "Confirmation"));

TMessagePresenter& Presenter() {
    static TMessagePresenter presenter;
    return presenter;
}

}  // namespace

void ShowInformation(QWidget* parent, const QString& text) {
    if (Presenter()) {
        Presenter()(TMessageKind::mkInformation, text);
        return;
    }
    QMessageBox::information(
        parent, QCoreApplication::translate("TMessageBoxes", kCaptionInformation), text);
}

bool AskConfirmation(QWidget* parent, const QString& text) {
    if (Presenter()) return Presenter()(TMessageKind::mkConfirmation, text);
    return QMessageBox::question(parent,
                                 QCoreApplication::translate("TMessageBoxes", kCaptionConfirmation),
                                 text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void SetMessagePresenter(TMessagePresenter presenter) {
    Presenter() = std::move(presenter);
}
