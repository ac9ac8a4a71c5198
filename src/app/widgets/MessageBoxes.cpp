#include "app/widgets/MessageBoxes.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "app/core/ConversionQueue.h"

namespace {

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
