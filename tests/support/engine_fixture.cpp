#include "engine_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

bool startSimulator(QProcess& simulator, TempSettings& settings, const QStringList& options,
                    int port) {
    simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    simulator.start(QStringLiteral(WATTMETER_SIM_PATH),
                    QStringList{"--com", QString::number(port), "--quiet"} + options);
    // The simulator links its pseudo-terminal as COM<port> once it is ready to answer.
    const QString link = settings.portsFolder() + QStringLiteral("/com%1").arg(port);
    if (!QTest::qWaitFor([&] { return QFileInfo(link).isSymLink(); }, 10000))
        return false;
    settings.set("port", QString::number(port));
    return true;
}

bool writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

void stopSimulator(QProcess& simulator) {
    if (simulator.state() != QProcess::NotRunning) {
        simulator.terminate();
        simulator.waitForFinished(3000);
    }
}
