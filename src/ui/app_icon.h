#pragma once

#include <QIcon>

namespace ui {

// The application icon: a power meter with its needle in the green, drawn at 16, 32 and 48
// pixels so each size stays crisp.
QIcon appIcon();

} // namespace ui
