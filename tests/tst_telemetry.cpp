// The protocol room on literal texts: what the scanner reports and when the poll cycle sends.
#include "telemetry/poll_cycle.h"
#include "telemetry/scanner.h"

#include <QTest>

namespace {

// What the scanner reports, one line per report, so a row states the whole sequence.
QStringList scanned(std::string_view buffer) {
    struct Recorder : telemetry::ScanSink {
        QStringList events;
        static QString text(std::string_view t) {
            return QString::fromLatin1(t.data(), qsizetype(t.size()));
        }
        void band(telemetry::Band band) override {
            events << (band == telemetry::Band::High ? "band high" : "band low");
        }
        void overPowerWarning() override { events << "warning"; }
        void alarm(std::string_view line) override { events << "alarm " + text(line); }
        void reading(telemetry::Reading which, std::string_view field) override {
            events << QString("fwd rev vswr i1 i2 i3 i4 total").split(' ')[int(which)] + '=' +
                          text(field);
        }
    } recorder;
    telemetry::scan(buffer, recorder);
    return recorder.events;
}

} // namespace

class tst_telemetry : public QObject {
    Q_OBJECT
private slots:
    void reports_data();
    void reports();
    void pollCycle_data();
    void pollCycle();
};

// The scan fuzzer holds the scanner (and the bars' reading of numbers) against plain references
// built on the same protocol table, so each marker is written out here once, as the amplifier sends
// it: a typo in the table would pass the fuzzer.
void tst_telemetry::reports_data() {
    QTest::addColumn<QStringList>("expected");
    const auto row = [](const char* buffer, const QStringList& expected) {
        QTest::newRow(buffer) << expected;
    };
    row("HIGH BAND SELECTED\r", {"band high"});
    row("HARDWARE - HIGHBAND\r", {"band high"});
    row("LOW BAND SELECTED\r", {"band low"});
    row("HARDWARE - LOWBAND\r", {"band low"});
    row("ZRT-2730 POWER AMP\r", {"alarm AMPLIFIER RESTARTED"});
    row("POWER SUPPLY FAULT\r", {"alarm POWER SUPPLY FAULT"});
    row("PWR FWD ABOVE 1100\r", {"warning", "alarm PWR FWD ABOVE 1100"});
    row("CURRENT LIMITER IN EFFECT\r", {"alarm CURRENT LIMITER IN EFFECT"});
    row("SUM OF CURRENT > 100.00 AMPS\r", {"alarm SUM OF CURRENT > 100.00 AMPS"});
    row("CURRENT IMBALANCE\r", {"alarm CURRENT IMBALANCE"});
    row("HIGH VSWR\r", {"alarm HIGH VSWR"});
    row("HARDWARE - HIGH BAND\r", {"alarm HW - HBAND, SW - LBAND"});
    row("HARDWARE - LOW BAND\r", {"alarm HW - LBAND, SW - HBAND"});
    row("FWD: 850 REV: 12\rVSWR: 1.3:1\r", {"fwd=850", "rev=12", "vswr=1.3"});
    row("CURRENT:  1.1  2.2  3.3  4.4  11.0  \r",
        {"i1=1.1", "i2=2.2", "i3=3.3", "i4=4.4", "total=11.0"});
}

void tst_telemetry::reports() {
    QFETCH(QStringList, expected);
    QCOMPARE(scanned(QTest::currentDataTag()), expected);
}

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
