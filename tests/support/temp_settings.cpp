#include "temp_settings.h"

#include <QSettings>

TempSettings::TempSettings()
    : previous_(qgetenv("XDG_CONFIG_HOME")),
      hadPrevious_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
    // QSettings reads XDG_CONFIG_HOME once per process; tell it about the new folder.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.path());
}

TempSettings::~TempSettings() {
    if (hadPrevious_)
        qputenv("XDG_CONFIG_HOME", previous_);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QString TempSettings::settingsFile() const {
    return dir_.path() + QStringLiteral("/Vorlan Wattmeter/Vorlan Wattmeter.conf");
}

QString TempSettings::portsFolder() const {
    return dir_.path() + QStringLiteral("/Vorlan Wattmeter/ports");
}

void TempSettings::set(const QString& key, const QString& value) {
    QSettings store(settingsFile(), QSettings::IniFormat);
    store.setValue(QStringLiteral("settings/") + key, value);
}

QString TempSettings::value(const QString& key) const {
    QSettings store(settingsFile(), QSettings::IniFormat);
    return store.value(QStringLiteral("settings/") + key, QStringLiteral("<absent>")).toString();
}
