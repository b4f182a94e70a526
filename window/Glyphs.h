// Pictures for the window's glyph buttons, painted when the window is built so the program carries no image
// files. Every shape has two pictures: filled in colour while its button is enabled, and a grey outline of
// the same shape while it is disabled, so a disabled button still shows what it would do.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace Glyphs {

enum class Shape {
    Play,   // red triangle pointing right: transmit, initialize
    Stop,   // red square: abort
    Pause,  // two red upright bars
    Ring,   // red ring: clear
    Help,   // red question mark on a yellow disc
};

// One picture of `shape` in a square of `size` logical pixels, rendered at `devicePixelRatio`.
QPixmap Picture(Shape shape, int size, bool enabled, qreal devicePixelRatio = 1.0);

// The enabled picture as the Normal pixmap and the outline as the Disabled one, each at 1x and 2x.
// Qt would otherwise derive the disabled look by greying the filled picture, which loses the outline look.
QIcon Icon(Shape shape, int size);

}  // namespace Glyphs
