// Modal message boxes go through here so tests can see them without a person to press OK.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

enum class BoxIcon { Warning, Error, Information };

// Shows a modal box with one OK button; returns when it is dismissed. With a hook installed, the hook
// is called instead and nothing is shown.
void ShowMessageBox(QWidget *parent, BoxIcon icon, const QString &caption, const QString &text);

using MessageBoxHook = std::function<void(BoxIcon icon, const QString &caption, const QString &text)>;
void SetMessageBoxHook(MessageBoxHook hook);  // an empty hook restores the real boxes

// Closes every box ShowMessageBox has up (each ShowMessageBox then returns as if OK was pressed) and
// returns their texts, for a program that must end now (SIGTERM) and say on stderr what went unanswered.
QStringList CloseMessageBoxes();
