// Loopback HTTP for the tests: a free port, one request on a connection of its own, and a
// Prometheus of the test's own scraping a target.
#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A port nobody listens on, for a server the test starts.
quint16 freePort();
// The whole answer to one request on a connection of its own.
QByteArray ask(quint16 port, const QByteArray& request);
QByteArray get(quint16 port, const QByteArray& target, const QByteArray& host = "127.0.0.1");
QJsonDocument body(const QByteArray& answer);

// Prometheus scraping the target ("127.0.0.1:8080") every second; its own port.
struct Prometheus {
    QTemporaryDir data;
    QProcess process;
    quint16 port = freePort();

    explicit Prometheus(const QString& target);
    ~Prometheus();
    QJsonDocument query(const QByteArray& path) { return body(get(port, path)); }
};
