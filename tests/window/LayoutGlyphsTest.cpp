// The glyph pictures and the buttons that carry them: coloured and filled while enabled, a grey outline while
// disabled, the right shape on the right button.
#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>
#include <QToolButton>
#include <memory>

#include "Glyphs.h"
#include "Main.h"
#include "WindowOnEmulator.h"

namespace {

using Glyphs::Shape;

struct Census {
    int opaque = 0;    // pixels at least half covered
    int red = 0;       // strongly red
    int coloured = 0;  // any clearly saturated colour
};

Census Count(const QPixmap &pm) {
    const QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32);
    Census c;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor px = img.pixelColor(x, y);
            if (px.alpha() < 128) continue;
            ++c.opaque;
            if (px.red() > 180 && px.green() < 80 && px.blue() < 80) ++c.red;
            if (qMax(px.red(), qMax(px.green(), px.blue())) - qMin(px.red(), qMin(px.green(), px.blue())) >
                40)
                ++c.coloured;
        }
    return c;
}

const Shape AllShapes[] = {Shape::Play, Shape::Stop, Shape::Pause, Shape::Ring, Shape::Help};

}  // namespace

TEST(Glyphs, EnabledPictureIsFilledRedDisabledIsAThinnerGreyOutline) {
    for (const Shape s : AllShapes) {
        SCOPED_TRACE(int(s));
        const Census on = Count(Glyphs::Picture(s, 32, true));
        const Census off = Count(Glyphs::Picture(s, 32, false));
        EXPECT_GT(on.red, 20);
        EXPECT_GT(off.opaque, 0);
        EXPECT_EQ(off.coloured, 0);
        // An outline covers clearly less than the filled shape; a merely greyed copy would cover the same.
        EXPECT_LT(off.opaque * 3, on.opaque * 2);
    }
}

TEST(Glyphs, ShapesAreTellApart) {
    for (const Shape a : AllShapes)
        for (const Shape b : AllShapes) {
            if (a == b) continue;
            EXPECT_NE(Glyphs::Picture(a, 16, true).toImage(), Glyphs::Picture(b, 16, true).toImage())
                << int(a) << " vs " << int(b);
        }
}

TEST(Glyphs, EachButtonShowsItsShapeAndChangesWhenDisabled) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    StartOnEmulator();
    auto window = ShowWindow(dir);
    const struct {
        QToolButton *button;
        Shape shape;
    } rows[] = {
        {window->btnTransmit0, Shape::Play}, {window->btnStop0, Shape::Stop}, {window->btnInit, Shape::Play},
        {window->btnPause, Shape::Pause},    {window->btnStop, Shape::Stop},  {window->btnClear, Shape::Ring},
        {window->SpeedHelp, Shape::Help},
    };
    for (const auto &r : rows) {
        QToolButton *b = r.button;
        SCOPED_TRACE(b->objectName().toStdString());
        const QSize glyph = b->iconSize();
        EXPECT_LE(glyph.width() + 4, b->width());
        EXPECT_LE(glyph.height() + 4, b->height());
        for (const bool enabled : {true, false}) {
            const QIcon::Mode mode = enabled ? QIcon::Normal : QIcon::Disabled;
            EXPECT_EQ(b->icon().pixmap(glyph, 1.0, mode).toImage(),
                      Glyphs::Picture(r.shape, glyph.width(), enabled).toImage());
        }
        b->setEnabled(true);
        const QImage enabled = b->grab().toImage();
        b->setEnabled(false);
        const QImage disabled = b->grab().toImage();
        b->setEnabled(true);
        EXPECT_NE(enabled, disabled);
        EXPECT_GT(Count(QPixmap::fromImage(enabled)).red, 0);
        EXPECT_EQ(Count(QPixmap::fromImage(disabled)).red, 0);
    }
}
