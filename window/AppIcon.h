// Brisklet's own icon, in the style of the window's glyph buttons: the red ring of "Clear list" around the
// red triangle of "Initialize adaptor". Painted, like the glyphs, so that the program carries no image
// file; the package's icon files are painted by the same code when the program is built.
#pragma once

#include <QIcon>
#include <QImage>

// Every size a desktop asks for, from 16 to 256 pixels. Needs a QGuiApplication.
QIcon AppIcon();
// One picture of `size` x `size` pixels on a transparent background. Needs a QGuiApplication.
QImage AppIconImage(int size);

constexpr int AppIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
