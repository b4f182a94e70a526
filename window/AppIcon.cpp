#include "AppIcon.h"

#include <QPainter>

#include "Glyphs.h"

QImage AppIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawPixmap(0, 0, Glyphs::Picture(Glyphs::Shape::Ring, size, true));
    // The triangle fills the ring's hole; its own picture leaves a margin, hence more than the hole's size.
    const int inner = qMax(6, size * 11 / 20);
    const int at = (size - inner) / 2;
    p.drawPixmap(at + inner / 20, at, Glyphs::Picture(Glyphs::Shape::Play, inner, true));
    p.end();
    return image;
}

QIcon AppIcon() {
    QIcon icon;
    for (const int size : AppIconSizes) icon.addPixmap(QPixmap::fromImage(AppIconImage(size)));
    return icon;
}
