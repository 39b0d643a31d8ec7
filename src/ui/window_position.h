// The window's position in the store: the frame's top-left corner in twips (1/1440 inch,
// 15 twips to a pixel at 96 dpi), as the decimal text of the number.
#pragma once

#include <QString>

class QWidget;

namespace ui {

inline constexpr int kTwipsPerPixel = 15;

// A stored edge in pixels. Text that is not a number, or a number no screen could place a
// window at, reads as 0; anything else is used as it stands, off the screen or not.
int storedEdgeToPixels(const QString& twips);
QString pixelsToStoredEdge(int pixels);

// FormTop first, then FormLeft, each defaulting to "0".
void restoreWindowPosition(QWidget& window);
void saveWindowPosition(const QWidget& window);

} // namespace ui
