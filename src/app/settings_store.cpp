#include "settings_store.h"

#include <QSettings>

namespace app {

namespace {

QString path(const QString& section, const QString& key) {
    return section + QLatin1Char('/') + key;
}

} // namespace

QString GetSetting(const QString& appname, const QString& section, const QString& key,
                   const QString& def) {
    // One store object per operation: it reads the file fresh, and a save is written back
    // at once, so nothing waits in memory for an orderly exit.
    const QSettings store(QSettings::NativeFormat, QSettings::UserScope, appname, appname);
    const QVariant value = store.value(path(section, key));
    // A value that is not text (a hand-edited list, say) reads as absent.
    if (!value.isValid() || !value.canConvert<QString>())
        return def;
    return value.toString();
}

void SaveSetting(const QString& appname, const QString& section, const QString& key,
                 const QString& value) {
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, appname, appname);
    store.setValue(path(section, key), value);
    store.sync();
}

} // namespace app
