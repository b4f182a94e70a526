#include "MessageBoxes.h"

#include <QMessageBox>

namespace {
MessageBoxHook &Hook() {
    static MessageBoxHook hook;
    return hook;
}
// The boxes up now, innermost last (window thread only).
QList<QMessageBox *> &OpenBoxes() {
    static QList<QMessageBox *> boxes;
    return boxes;
}
}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) { Hook() = std::move(hook); }

void ShowMessageBox(QWidget *parent, BoxIcon icon, const QString &caption, const QString &text) {
    if (Hook()) {
        Hook()(icon, caption, text);
        return;
    }
    // Texts written for the adapter's first platform break lines with CR LF; a box wants one break.
    QString shown = text;
    shown.replace("\r\n", "\n");
    QMessageBox box(icon == BoxIcon::Warning ? QMessageBox::Warning
                    : icon == BoxIcon::Error ? QMessageBox::Critical
                                             : QMessageBox::Information,
                    caption, shown, QMessageBox::Ok, parent);
    OpenBoxes().append(&box);
    box.exec();
    OpenBoxes().removeOne(&box);
}

QStringList CloseMessageBoxes() {
    QStringList texts;
    for (QMessageBox *box : OpenBoxes()) {
        texts << box->text().replace(QLatin1Char('\n'), QLatin1Char(' '));
        box->reject();
    }
    return texts;
}
