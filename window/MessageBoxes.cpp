#include "MessageBoxes.h"

#include <QMessageBox>

namespace {
MessageBoxHook &Hook() {
    static MessageBoxHook hook;
    return hook;
}
}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) { Hook() = std::move(hook); }

void ShowMessageBox(QWidget *parent, BoxIcon icon, const QString &caption, const QString &text) {
    if (Hook()) {
        Hook()(icon, caption, text);
        return;
    }
    QMessageBox box(icon == BoxIcon::Warning ? QMessageBox::Warning
                    : icon == BoxIcon::Error ? QMessageBox::Critical
                                             : QMessageBox::Information,
                    caption, text, QMessageBox::Ok, parent);
    box.exec();
}
