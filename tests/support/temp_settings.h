// Points the settings store at a fresh temporary folder for the life of the object, through
// XDG_CONFIG_HOME, so tests use the real QSettings without touching the user's own.
#pragma once

#include <QString>
#include <QTemporaryDir>

class TempSettings {
public:
    TempSettings();
    ~TempSettings();

    QString folder() const { return dir_.path(); }
    // The file and the ports folder the program uses under this folder.
    QString settingsFile() const;
    QString portsFolder() const;

    void set(const QString& key, const QString& value);
    QString value(const QString& key) const; // "<absent>" when the key is not stored

private:
    QTemporaryDir dir_;
    QByteArray previous_;
    bool hadPrevious_;
};
