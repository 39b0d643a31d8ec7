#include "ports_folder.h"

#include <QStandardPaths>

namespace seriallink {

QString portsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Vorlan Wattmeter/ports");
}

} // namespace seriallink
