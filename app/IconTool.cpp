// Writes Brisklet's icon as the PNG files of an icon theme, for the package: run while building, with
// the painting the window itself uses. Usage: brisklet-icons OUTDIR NAME
//   -> OUTDIR/hicolor/16x16/apps/NAME.png ... OUTDIR/hicolor/256x256/apps/NAME.png
#include <QDir>
#include <QGuiApplication>
#include <cstdio>

#include "AppIcon.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fputs("usage: brisklet-icons OUTDIR NAME\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");  // painting only; no display at build time
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (const int size : AppIconSizes) {
        const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(out).arg(size);
        if (!QDir().mkpath(dir) || !AppIconImage(size).save(dir + "/" + name + ".png")) {
            std::fprintf(stderr, "brisklet-icons: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
