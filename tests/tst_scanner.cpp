// The scanner on the amplifier's literal texts. The fuzz target holds the scanner against a
// plain walk over the same protocol table, so each marker is written out here once, as the
// amplifier sends it: a typo in the table would pass the fuzzer.
#include "support/scan_recorder.h"

#include <QTest>

class tst_scanner : public QObject {
    Q_OBJECT
private slots:
    void reports_data();
    void reports();
};

void tst_scanner::reports_data() {
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QStringList>("expected");

    const auto row = [](const char* buffer, const QStringList& expected) {
        QTest::newRow(buffer) << QByteArray(buffer) << expected;
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
    row("high vswr fwd: 850 ", {});
}

void tst_scanner::reports() {
    QFETCH(QByteArray, buffer);
    QFETCH(QStringList, expected);
    QCOMPARE(scanned(buffer.toStdString()), expected);
}

QTEST_APPLESS_MAIN(tst_scanner)
#include "tst_scanner.moc"
