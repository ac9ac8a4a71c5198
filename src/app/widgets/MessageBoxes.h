// The program's message boxes: "Information" with the information icon and an OK button, and
// "Confirmation" with a question and Yes and No buttons.
#pragma once

#include <QString>
#include <functional>

class QWidget;

enum class TMessageKind { mkInformation, mkConfirmation };

void ShowInformation(QWidget* parent, const QString& text);
// True when the answer is Yes.
bool AskConfirmation(QWidget* parent, const QString& text);

// Takes the place of the boxes (a test records the messages and answers the questions); an
// empty presenter brings the boxes back. The result answers a confirmation.
using TMessagePresenter = std::function<bool(TMessageKind kind, const QString& text)>;
void SetMessagePresenter(TMessagePresenter presenter);
