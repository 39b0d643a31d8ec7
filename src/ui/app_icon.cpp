#include "app_icon.h"

namespace ui {

QIcon appIcon() {
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/icons/vorlan-wattmeter-%1.png").arg(size),
                     QSize(size, size));
    return icon;
}

} // namespace ui
