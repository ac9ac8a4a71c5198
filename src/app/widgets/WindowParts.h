// What the main window's files share in building and showing its controls.
#pragma once

#include <QIcon>
#include <QLabel>
#include <QString>
#include <QStyle>

inline constexpr int kHintMs = 30000;   // how long a tool tip or a status-bar word stays
inline constexpr int kColumnCount = 8;  // columns of the file list

template <typename TWidget>
TWidget* Named(TWidget* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

QLabel* NamedLabel(const QString& text, QWidget* parent);
QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback);
