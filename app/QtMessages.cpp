#include "QtMessages.h"

#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <atomic>
#include <cstring>

namespace {

std::atomic<const char *> Program{"brisklet"};
std::atomic<bool> Verbose{false};

void Route(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if ((type == QtDebugMsg || type == QtInfoMsg) && !Verbose.load()) return;
    QByteArray line(Program.load());
    line += ": qt: ";
    if (const char *category = context.category; category && std::strcmp(category, "default") != 0) {
        if (std::strncmp(category, "qt.", 3) == 0) category += 3;
        line += category;
        line += ": ";
    }
    line += message.toLocal8Bit();
    line += '\n';
    // Unchecked: there is nowhere else to tell of a standard error that takes nothing.
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, line.constData(), std::size_t(line.size()));
}

}  // namespace

void RouteQtMessages(const char *program, bool verbose) {
    Program.store(program);
    Verbose.store(verbose);
    qInstallMessageHandler(Route);
}
