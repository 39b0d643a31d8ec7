#include "broker.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/prctl.h>
#include <sys/socket.h>

bool run(const QString& program, const QStringList& arguments, const QString& folder) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitCode() == 0;
}

QStringList render(const QList<std::pair<QString, QByteArray>>& templates) {
    QJsonArray jobs;
    for (const auto& [jinja, payload] : templates)
        jobs.append(QJsonArray{jinja, QString::fromUtf8(payload)});
    QProcess python;
    python.start("/usr/bin/python3", {"-c", R"(import json, sys
from jinja2.sandbox import ImmutableSandboxedEnvironment
def render(jinja, value):
    try: return ImmutableSandboxedEnvironment().from_string(jinja).render(value_json=json.loads(value))
    except Exception as e: return 'error: ' + str(e)
json.dump([render(*job) for job in json.load(sys.stdin)], sys.stdout))"});
    python.write(QJsonDocument(jobs).toJson());
    python.closeWriteChannel();
    python.waitForFinished(30000);
    QStringList rendered;
    for (const QJsonValue text : QJsonDocument::fromJson(python.readAllStandardOutput()).array())
        rendered << text.toString();
    return rendered;
}

Broker::Broker(bool tls) {
    QTcpServer probes[3]; // held together, so that the ports differ
    for (QTcpServer& probe : probes)
        probe.listen(QHostAddress::LocalHost);
    QStringList arguments{QStringLiteral(BROKER_SETUP),
                          QString::number(port = probes[0].serverPort())};
    if (tls)
        arguments << QString::number(tlsPort = probes[1].serverPort())
                  << QString::number(elsewherePort = probes[2].serverPort());
    QVERIFY(run("bash", arguments, dir.path()));
    QObject::connect(&process, &QProcess::readyReadStandardError,
                     [this] { log += process.readAllStandardError(); });
}

Broker::~Broker() {
    signal(SIGCONT);
    stop();
}

bool Broker::start() {
    log.clear();
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }); // ends with us
    process.start(QStringLiteral("mosquitto"), {"-c", dir.filePath("broker.conf")});
    return QTest::qWaitFor([this] { return log.contains(" running"); }, 10000);
}

void Broker::stop() {
    process.terminate();
    process.waitForFinished();
}

void Broker::signal(int number) const {
    if (process.state() == QProcess::Running)
        ::kill(pid_t(process.processId()), number);
}

Subscriber::Subscriber(const Broker& broker) {
    const QStringList line = {"-oL", "mosquitto_sub", "-d", "-t", "#", "-F", "%r %t %p"};
    process.start("stdbuf", line + broker.observer());
    QVERIFY(saw("SUBACK"));
}

Subscriber::~Subscriber() {
    process.kill();
    process.waitForFinished();
}

bool Subscriber::saw(const QByteArray& line, int ms) {
    return QTest::qWaitFor([&] { return (seen += process.readAll()).contains(line); }, ms);
}

ScriptedBroker::ScriptedBroker(const QString& script) {
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this, script] {
        QTcpSocket* s = server.nextPendingConnection();
        QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        QObject::connect(s, &QTcpSocket::readyRead, s, [this, s, script] {
            QObject::disconnect(s, &QTcpSocket::readyRead, nullptr, nullptr);
            const QByteArray in = s->readAll(); // the CONNECT, in one piece on loopback
            const bool v5 = versions.emplace_back(in.at(in.indexOf("MQTT") + 4)) == 5;
            if (script.startsWith("refuse v5") && v5) {
                s->write(script.endsWith("3.1.1") ? QByteArray("\x20\x02\x00\x01", 4)
                                                  : QByteArray("\x20\x03\x00\x84\x00", 5));
                return s->disconnectFromHost();
            }
            s->write(v5 ? QByteArray("\x20\x03\x00\x00\x00", 5)
                        : QByteArray("\x20\x02\x00\x00", 4));
            if (script == "take over") {
                s->write(QByteArray("\xE0\x02\x8E\x00", 4));
                s->disconnectFromHost();
            } else if (script == "oversized") { // 1 MB on "t"
                s->write(QByteArray("\x30\x84\x80\x40\x00\x01t\x00", 8) + QByteArray(1 << 20, 'x'));
            } else if (script == "flood") { // on "t", all with id 1, past Qt's buffers
                s->setReadBufferSize(1);
                auto* flood = new QTimer(s);
                QObject::connect(
                    flood, &QTimer::timeout, s,
                    [fd = int(s->socketDescriptor()), at = qsizetype(0)]() mutable {
                        static const QByteArray some =
                            QByteArray("\x32\x07\x00\x01t\x00\x01\x00x", 9).repeated(1000);
                        for (ssize_t n; (n = ::send(fd, some.constData() + at,
                                                    size_t(some.size() - at), MSG_DONTWAIT)) > 0;)
                            at = (at + n) % some.size();
                    });
                flood->start(10);
            }
        });
    });
}
