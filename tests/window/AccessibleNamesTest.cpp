// The glyph buttons carry no text, so screen readers and UI tests find them by the names their hints give
// them; and the window carries the program's icon.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTemporaryDir>
#include <QToolButton>
#include <functional>
#include <memory>

#include "AppIcon.h"
#include "Main.h"
#include "WindowOnEmulator.h"

namespace {

// Walks the window's accessibility tree, as a screen reader does, for the button of that name.
QAccessibleInterface *FindButton(QAccessibleInterface *node, const QString &name) {
    if (!node) return nullptr;
    if (node->role() == QAccessible::Button && node->text(QAccessible::Name) == name) return node;
    for (int i = 0; i < node->childCount(); ++i)
        if (QAccessibleInterface *found = FindButton(node->child(i), name)) return found;
    return nullptr;
}

TEST(AccessibleNames, EveryGlyphButtonIsFoundByItsHint) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    StartOnEmulator();
    auto window = ShowWindow(dir);
    const struct {
        const char *name;
        QToolButton *button;
    } rows[] = {
        {"Transmit Frame", window->btnTransmit0},
        {"Abort Transmit Frame", window->btnStop0},
        {"Initialize adaptor", window->btnInit},
        {"Pause", window->btnPause},
        {"Abort initialize adaptor", window->btnStop},
        {"Clear list", window->btnClear},
        {"Help", window->SpeedHelp},
    };
    QAccessibleInterface *root = QAccessible::queryAccessibleInterface(window.get());
    ASSERT_NE(root, nullptr);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.button->accessibleName(), row.button->toolTip());
        QAccessibleInterface *found = FindButton(root, QString::fromLatin1(row.name));
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->object(), row.button);
    }
}

TEST(AccessibleNames, TheWindowCarriesTheProgramIcon) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    WindowOptions options;
    options.SettingsDir = dir.path() + "/";
    QApplication::setWindowIcon(AppIcon());  // as the program does
    TfrmMain window(options);
    const QIcon icon = window.windowIcon();
    QApplication::setWindowIcon(QIcon());
    ASSERT_FALSE(icon.isNull());
    for (const int size : AppIconSizes) {
        SCOPED_TRACE(size);
        EXPECT_EQ(icon.pixmap(QSize(size, size)).toImage(), QPixmap::fromImage(AppIconImage(size)).toImage());
    }
    // Red glyph on a transparent ground, like the buttons: corners clear, centre red.
    const QImage image = AppIconImage(64);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    const QColor centre = image.pixelColor(32, 32);
    EXPECT_GT(centre.red(), 200);
    EXPECT_LT(centre.green(), 60);
}

}  // namespace
