// Loopback HTTP for the tests: a free port, one request on a connection of its own, and a
// Prometheus of the test's own scraping given targets.
#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// A port nobody listens on, for a server the test starts.
quint16 freePort();
// The whole answer to one request on a connection of its own.
QByteArray ask(quint16 port, const QByteArray& request);
QByteArray get(quint16 port, const QByteArray& target, const QByteArray& host = "127.0.0.1");
QJsonDocument body(const QByteArray& answer);

// Prometheus scraping the targets ("127.0.0.1:8080") every second under the job "wattmeter",
// evaluating the rules file when one is given; its own port.
struct Prometheus {
    QTemporaryDir data;
    QProcess process;
    quint16 port = freePort();

    Prometheus(const QStringList& targets, const QString& rules = {});
    ~Prometheus();
    QJsonDocument query(const QByteArray& path) { return body(get(port, path)); }
};
