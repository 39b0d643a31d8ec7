#include "about.h"

namespace app {

QString aboutTitle() {
    return QStringLiteral("About %1").arg(QLatin1String(kProgramName));
}

QString aboutText() {
    return QStringLiteral("%1\nVersion " WATTMETER_VERSION).arg(QLatin1String(kProgramName));
}

} // namespace app
