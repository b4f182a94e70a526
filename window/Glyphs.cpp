#include "Glyphs.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace Glyphs {

namespace {

const QColor Red(230, 0, 0);
const QColor RedEdge(128, 0, 0);
const QColor Yellow(255, 230, 0);
const QColor YellowEdge(160, 130, 0);
const QColor Grey(128, 128, 128);

// The shape's outline in a unit square (0..1 both ways); the painter scales it to the picture.
QPainterPath UnitPath(Shape shape) {
    QPainterPath path;
    switch (shape) {
        case Shape::Play:
            path.moveTo(0.25, 0.10);
            path.lineTo(0.85, 0.50);
            path.lineTo(0.25, 0.90);
            path.closeSubpath();
            break;
        case Shape::Stop: path.addRect(QRectF(0.20, 0.20, 0.60, 0.60)); break;
        case Shape::Pause:
            path.addRect(QRectF(0.20, 0.15, 0.22, 0.70));
            path.addRect(QRectF(0.58, 0.15, 0.22, 0.70));
            break;
        case Shape::Ring:
            // Odd-even fill leaves the inner disc empty.
            path.addEllipse(QPointF(0.5, 0.5), 0.42, 0.42);
            path.addEllipse(QPointF(0.5, 0.5), 0.22, 0.22);
            break;
        case Shape::Help: path.addEllipse(QPointF(0.5, 0.5), 0.46, 0.46); break;
    }
    return path;
}

// The question mark, centred on the disc; built at a large size and scaled, so it keeps its shape in small
// pictures where a font's hinting would distort it. Built once, so every picture of it is the same even if
// font matching changes while the program runs.
QPainterPath MakeQuestionMark() {
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
    font.setBold(true);
    font.setPixelSize(100);
    QPainterPath text;
    text.addText(0, 0, font, QStringLiteral("?"));
    const QRectF box = text.boundingRect();
    const qreal scale = 0.62 / box.height();
    QTransform t;
    t.translate(0.5, 0.5);
    t.scale(scale, scale);
    t.translate(-box.center().x(), -box.center().y());
    return t.map(text);
}

const QPainterPath &QuestionMark() {
    static const QPainterPath mark = MakeQuestionMark();
    return mark;
}

}  // namespace

QPixmap Picture(Shape shape, int size, bool enabled, qreal devicePixelRatio) {
    const int device = qRound(size * devicePixelRatio);
    QPixmap pm(device, device);
    pm.setDevicePixelRatio(devicePixelRatio);
    pm.fill(Qt::transparent);

    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // Work in the unit square, but keep the pens one device pixel wide whatever the size.
    const QTransform toPicture = QTransform::fromScale(size, size);
    const QPainterPath outline = toPicture.map(UnitPath(shape));
    const qreal pen = 1.0 / devicePixelRatio;

    if (shape == Shape::Help) {
        const QPainterPath mark = toPicture.map(QuestionMark());
        if (enabled) {
            p.setPen(QPen(YellowEdge, pen));
            p.setBrush(Yellow);
            p.drawPath(outline);
            p.setPen(Qt::NoPen);
            p.setBrush(Red);
            p.drawPath(mark);
        } else {
            p.setPen(QPen(Grey, pen));
            p.setBrush(Qt::NoBrush);
            p.drawPath(outline);
            p.drawPath(mark);
        }
        return pm;
    }

    if (enabled) {
        p.setPen(QPen(RedEdge, pen));
        p.setBrush(Red);
    } else {
        p.setPen(QPen(Grey, pen));
        p.setBrush(Qt::NoBrush);
    }
    p.drawPath(outline);
    return pm;
}

QIcon Icon(Shape shape, int size) {
    QIcon icon;
    for (const qreal dpr : {1.0, 2.0}) {
        icon.addPixmap(Picture(shape, size, true, dpr), QIcon::Normal);
        icon.addPixmap(Picture(shape, size, false, dpr), QIcon::Disabled);
    }
    return icon;
}

}  // namespace Glyphs
