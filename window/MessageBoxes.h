// Modal message boxes go through here so tests can see them without a person to press OK.
#pragma once

#include <QString>
#include <functional>

class QWidget;

enum class BoxIcon { Warning, Error, Information };

// Shows a modal box with one OK button; returns when it is dismissed. With a hook installed, the hook
// is called instead and nothing is shown.
void ShowMessageBox(QWidget *parent, BoxIcon icon, const QString &caption, const QString &text);

using MessageBoxHook = std::function<void(BoxIcon icon, const QString &caption, const QString &text)>;
void SetMessageBoxHook(MessageBoxHook hook);  // an empty hook restores the real boxes
