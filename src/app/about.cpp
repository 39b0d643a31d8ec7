#include "about.h"

namespace app {

QString aboutText() {
    return QStringLiteral("Vorlan Wattmeter\nVersion " WATTMETER_VERSION);
}

} // namespace app
