#include "window_fixture.h"

#include "pty.h"

#include <QAction>

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
    stopSimulator(simulator);
}

bool LiveWindow::load(Pty& pty, int port) {
    if (!pty.linkAsComPort(port, settings.portsFolder()))
        return false;
    settings.set("port", QString::number(port));
    window->Form_Load();
    return pty.read(6, 2000) == "RESET\r" && boxes->shown.isEmpty();
}

bool LiveWindow::loadWithSimulator(const QStringList& options) {
    if (!startSimulator(simulator, settings, options))
        return false;
    window->Form_Load();
    return boxes->shown.isEmpty();
}
