#include "window_fixture.h"

#include "pty.h"

#include <QAction>
#include <QFileInfo>
#include <QTest>

QList<int> checkedPorts(const QObject& window) {
    QList<int> ports;
    for (int n = 1; n <= seriallink::kPortCount; ++n)
        if (part<QAction>(window, qPrintable(QStringLiteral("mnuPortsCom%1").arg(n))).isChecked())
            ports << n;
    return ports;
}

LiveWindow::~LiveWindow() {
    window.reset();
    monitor.reset();
    if (simulator.state() != QProcess::NotRunning) {
        simulator.terminate();
        simulator.waitForFinished(3000);
    }
}

bool LiveWindow::load(Pty& pty, int port) {
    if (!pty.linkAsComPort(port, settings.portsFolder()))
        return false;
    settings.set("port", QString::number(port));
    window->Form_Load();
    return pty.read(6, 2000) == "RESET\r" && boxes->shown.isEmpty();
}

bool LiveWindow::loadWithSimulator(const QStringList& options) {
    simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    simulator.start(QStringLiteral(WATTMETER_SIM_PATH),
                    QStringList{"--com", "1", "--quiet"} + options);
    // The simulator links its pseudo-terminal as COM1 once it is ready to answer.
    const QString link = settings.portsFolder() + QStringLiteral("/com1");
    if (!QTest::qWaitFor([&] { return QFileInfo(link).isSymLink(); }, 10000))
        return false;
    settings.set("port", "1");
    window->Form_Load();
    return boxes->shown.isEmpty();
}
