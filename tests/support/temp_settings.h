// Points the settings store at a fresh temporary folder for the life of the object, through
// XDG_CONFIG_HOME, so tests use the real QSettings without touching the user's own.
#pragma once

#include <QSettings>
#include <QTemporaryDir>

class TempSettings {
public:
    TempSettings() {
        qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
        // QSettings reads XDG_CONFIG_HOME once per process; tell it about the new folder.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path());
    }
    ~TempSettings() { qputenv("XDG_CONFIG_HOME", previous_); }

    QString folder() const { return dir_.path(); }
    QString settingsFile() const { return folder() + "/Vorlan Wattmeter/Vorlan Wattmeter.conf"; }
    QString portsFolder() const { return folder() + "/Vorlan Wattmeter/ports"; }

    void set(const QString& key, const QString& value) {
        QSettings(settingsFile(), QSettings::IniFormat).setValue("settings/" + key, value);
    }
    // "<absent>" when the key is not stored.
    QString value(const QString& key) const {
        return QSettings(settingsFile(), QSettings::IniFormat)
            .value("settings/" + key, "<absent>")
            .toString();
    }

private:
    QByteArray previous_ = qgetenv("XDG_CONFIG_HOME");
    QTemporaryDir dir_;
};
