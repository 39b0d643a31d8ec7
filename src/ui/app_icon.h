#pragma once

#include <QIcon>

namespace ui {

// The application icon: a power meter with its needle in the green, in its 16, 32 and 48
// pixel images (packaging/icons, drawn from the SVG there).
QIcon appIcon();

} // namespace ui
