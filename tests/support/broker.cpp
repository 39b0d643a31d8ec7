#include "broker.h"

#include <QTcpServer>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

namespace {

// The broker's users, their rights and its listener; with TLS ports ($2, $3) also a CA and
// listeners with its certificates for localhost and for another name.
constexpr char kSetUp[] = R"(set -e
mosquitto_passwd -b -c passwd wattmeter secret && mosquitto_passwd -b passwd observer look
printf '%s\n' 'user wattmeter' 'topic write wattmeter/n1/#' 'topic write homeassistant/#' \
    'topic read wattmeter/n1/command' 'topic read homeassistant/status' \
    'user observer' 'topic readwrite #' > acl
printf '%s\n' 'per_listener_settings false' 'allow_anonymous false' 'user root' \
    "password_file $PWD/passwd" "acl_file $PWD/acl" "listener $1 127.0.0.1" > broker.conf
[ -n "$2" ] || exit 0
key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1"
openssl req -x509 $key -subj /CN=CA -keyout ca.key -out ca.crt
for name in localhost elsewhere.invalid; do
    openssl req $key -subj /CN=$name -keyout $name.key -out $name.csr
    openssl x509 -req -in $name.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 1 \
        -out $name.crt -extfile <(echo subjectAltName=DNS:$name)
    printf '%s\n' "listener $2 127.0.0.1" "certfile $PWD/$name.crt" "keyfile $PWD/$name.key" \
        >> broker.conf
    shift
done)";

} // namespace

bool run(const QString& program, const QStringList& arguments, const QString& folder) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitCode() == 0;
}

Broker::Broker(bool tls) {
    QTcpServer probes[3]; // held together, so that the ports differ
    for (QTcpServer& probe : probes)
        probe.listen(QHostAddress::LocalHost);
    QStringList arguments{"-c", kSetUp, "-", QString::number(port = probes[0].serverPort())};
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
