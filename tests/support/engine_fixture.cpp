#include "engine_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

void BoxView::show(std::deque<app::Finding>& found) {
    while (!found.empty()) {
        const app::Finding finding = std::move(found.front());
        found.pop_front(); // before the box, whose event loop may bring more
        if (finding.kind == app::Finding::OverPower) {
            MsgBox(QString::fromLatin1(app::kOverPowerWarning), app::vbExclamation, {});
            monitor_.acknowledgeWarning();
        }
        if (finding.kind == app::Finding::OverPower || finding.kind == app::Finding::Alarm)
            shown << finding.alarm.time + " " + finding.alarm.text;
    }
}

int BoxView::MsgBox(const QString& prompt, int, const QString&) {
    shown << prompt;
    if (prompt == QLatin1String(app::kOverPowerWarning)) {
        if (onBox)
            QMetaObject::invokeMethod(&loop_, onBox, Qt::QueuedConnection);
        loop_.exec();
    }
    return app::vbOK;
}

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
