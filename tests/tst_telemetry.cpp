// The protocol room's poll cycle: when it sends, and what (the scanner is fuzz_scan's, against a
// plain walk over the amplifier's texts).
#include "telemetry/poll_cycle.h"

#include <QTest>

class tst_telemetry : public QObject {
    Q_OBJECT
private slots:
    void pollCycle_data();
    void pollCycle();
};

void tst_telemetry::pollCycle_data() {
    QTest::addColumn<QList<int>>("start"); // poll, interval, pollcurrent
    QTest::addColumn<QString>("sends");    // a letter a tick: P power, C power and currents, - none
    QTest::addColumn<int>("pollAfter");
    QTest::newRow("currents too, every second tick") << QList{0, 1, 1} << "-C-C" << 0;
    QTest::newRow("polling off: the count keeps running") << QList{0, 0, 1} << "---" << 3;
    QTest::newRow("the count saturates instead of wrapping") << QList{32766, 0, 0} << "--" << 32767;
    QTest::newRow("switched on after a long off period") << QList{32767, 1, 0} << "P-P" << 0;
    QTest::newRow("pollcurrent other than 1: power only") << QList{0, 1, 2} << "-P" << 0;
    QTest::newRow("wider interval") << QList{0, 3, 0} << "---P-" << 1;
}

void tst_telemetry::pollCycle() {
    QFETCH(QList<int>, start);
    QFETCH(QString, sends);
    QFETCH(int, pollAfter);
    telemetry::PollCycle cycle{std::int16_t(start[0]), std::int16_t(start[1]),
                               std::int16_t(start[2])};
    QString sent;
    for (qsizetype i = 0; i < sends.size(); ++i) {
        std::string joined;
        for (const std::string_view command : cycle.tick())
            joined.append(command).append("|");
        sent += joined == ""                      ? '-'
                : joined == "POWER\r|"            ? 'P'
                : joined == "POWER\r| CURRENT\r|" ? 'C'
                                                  : '?';
    }
    QCOMPARE(sent, sends);
    QCOMPARE(int(cycle.poll), pollAfter);
}

QTEST_APPLESS_MAIN(tst_telemetry)
#include "tst_telemetry.moc"
