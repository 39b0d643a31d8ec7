// The counting half of the poll cycle: which ticks send which commands.
#include "telemetry/poll_cycle.h"

#include <QTest>

class tst_poll_cycle : public QObject {
    Q_OBJECT
private slots:
    void schedule_data();
    void schedule();
};

void tst_poll_cycle::schedule_data() {
    QTest::addColumn<int>("poll");
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("pollcurrent");
    QTest::addColumn<QStringList>("sends"); // per tick; separate writes joined by '|'
    QTest::addColumn<int>("pollAfter");

    const QString p = "POWER\r", pc = "POWER\r| CURRENT\r";
    QTest::newRow("polling on: every second tick") << 0 << 1 << 0 << QStringList{"", p, "", p} << 0;
    QTest::newRow("current polling: second write with a leading blank")
        << 0 << 1 << 1 << QStringList{"", pc, "", pc} << 0;
    QTest::newRow("polling off: nothing sent, count keeps running")
        << 0 << 0 << 1 << QStringList{"", "", ""} << 3;
    QTest::newRow("count saturates instead of wrapping")
        << 32766 << 0 << 0 << QStringList{"", ""} << 32767;
    QTest::newRow("switched on after a long off period: sends at once")
        << 32767 << 1 << 0 << QStringList{p, "", p} << 0;
    QTest::newRow("switched on right after a poll: waits a tick")
        << 0 << 1 << 0 << QStringList{""} << 1;
    QTest::newRow("pollcurrent other than 1 asks for power only")
        << 0 << 1 << 2 << QStringList{"", p} << 0;
    QTest::newRow("wider interval") << 0 << 3 << 0 << QStringList{"", "", "", p, ""} << 1;
}

void tst_poll_cycle::schedule() {
    QFETCH(int, poll);
    QFETCH(int, interval);
    QFETCH(int, pollcurrent);
    QFETCH(QStringList, sends);
    QFETCH(int, pollAfter);

    telemetry::PollCycle cycle;
    cycle.poll = std::int16_t(poll);
    cycle.interval = std::int16_t(interval);
    cycle.pollcurrent = std::int16_t(pollcurrent);
    QStringList sent;
    for (qsizetype i = 0; i < sends.size(); ++i) {
        QStringList writes;
        for (const std::string_view command : cycle.tick())
            writes << QString::fromLatin1(command.data(), qsizetype(command.size()));
        sent << writes.join('|');
    }
    QCOMPARE(sent, sends);
    QCOMPARE(int(cycle.poll), pollAfter);
}

QTEST_APPLESS_MAIN(tst_poll_cycle)
#include "tst_poll_cycle.moc"
