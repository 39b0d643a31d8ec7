#include "http.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

quint16 freePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

QByteArray ask(quint16 port, const QByteArray& request) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(request);
    QByteArray answer;
    (void)QTest::qWaitFor([&] {
        answer += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    });
    return answer + socket.readAll();
}

QByteArray get(quint16 port, const QByteArray& target, const QByteArray& host) {
    return ask(port,
               "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n");
}

QJsonDocument body(const QByteArray& answer) {
    return QJsonDocument::fromJson(answer.mid(answer.indexOf("\r\n\r\n") + 4));
}

Prometheus::Prometheus(const QString& target) {
    QFile config(data.filePath("prometheus.yml"));
    const QByteArray text = "global: {scrape_interval: 1s}\nscrape_configs: [{job_name: wattmeter, "
                            "static_configs: [{targets: ['" +
                            target.toUtf8() + "']}]}]\n";
    if (!config.open(QIODevice::WriteOnly) || config.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(config.fileName()));
    config.close();
    process.start("prometheus", {"--config.file=" + config.fileName(),
                                 "--storage.tsdb.path=" + data.filePath("data"),
                                 QString("--web.listen-address=127.0.0.1:%1").arg(port)});
}

Prometheus::~Prometheus() {
    process.terminate();
    process.waitForFinished();
}
