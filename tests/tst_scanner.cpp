#include "telemetry/scanner.h"

#include <QTest>

using namespace telemetry;

namespace {

// Writes every report as one line, so a row states the whole expected sequence.
class RecordingSink : public ScanSink {
public:
    QStringList events;

    void band(Band band) override { events << (band == Band::High ? "band high" : "band low"); }
    void overPowerWarning() override { events << "warning"; }
    void alarm(std::string_view text) override { events << "alarm " + qs(text); }
    void reading(Reading which, std::string_view field) override {
        static const char* const names[] = {"fwd", "rev", "vswr", "i1", "i2", "i3", "i4", "total"};
        events << QString("%1=%2").arg(names[static_cast<int>(which)], qs(field));
    }

private:
    static QString qs(std::string_view text) {
        return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    }
};

QStringList scanned(const QByteArray& buffer) {
    RecordingSink sink;
    scan(std::string_view(buffer.constData(), static_cast<std::size_t>(buffer.size())), sink);
    return sink.events;
}

} // namespace

class TestScanner : public QObject {
    Q_OBJECT
private slots:
    void reports_data();
    void reports();
    void longBufferIsScannedToTheEnd();
};

void TestScanner::reports_data() {
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QStringList>("expected");

    auto row = [](const char* name, const QByteArray& buffer, const QStringList& expected) {
        QTest::newRow(name) << buffer << expected;
    };
    row("full power reply", "FWD: 850 REV: 12\rVSWR: 1.3:1\r", {"fwd=850", "rev=12", "vswr=1.3"});
    row("empty buffer", "", {});
    row("one character", "F", {});
    row("forward at the very start", "FWD: 5 ", {"fwd=5"});
    row("character behind the colon skipped whatever it is", "FWD:x850 ", {"fwd=850"});
    row("forward ends at a blank, not at a carriage return", "FWD: 1200\r ", {"fwd=1200\r"});
    row("reflected keeps blanks up to the carriage return", "REV: 25 W\r", {"rev=25 W"});
    row("vswr ends at the colon", "VSWR: 1.5:1", {"vswr=1.5"});
    row("unit stays in the field", "FWD: 850W ", {"fwd=850W"});
    row("terminator right at the field start", "FWD:  850 ", {"fwd="});
    row("forward twice, both reported in order", "FWD: 1 FWD: 2 ", {"fwd=1", "fwd=2"});
    row("current with two blanks between values", "CURRENT:  1.1  2.2  3.3  4.4  11.0  ",
        {"i1=1.1", "i2=2.2", "i3=3.3", "i4=4.4", "total=11.0"});
    row("current with single blanks loses first characters", "CURRENT:  11 22 33 44 110 ",
        {"i1=11", "i2=2", "i3=3", "i4=4", "total=10"});
    row("current cut after the third value stops there", "CURRENT:  1  2  3  4",
        {"i1=1", "i2=2", "i3=3"});
    row("unterminated field not reported", "FWD: 85", {});
    row("marker with nothing behind it", "FWD:", {});
    row("band report high", "HARDWARE - HIGHBAND", {"band high"});
    row("band report low", "HARDWARE - LOWBAND", {"band low"});
    row("band selected texts in buffer order", "HIGH BAND SELECTED\rLOW BAND SELECTED\r",
        {"band high", "band low"});
    row("hardware alarm high is not a band report", "HARDWARE - HIGH BAND",
        {"alarm HW - HBAND, SW - LBAND"});
    row("hardware alarm low is not a band report", "HARDWARE - LOW BAND",
        {"alarm HW - LBAND, SW - HBAND"});
    row("restart banner", "\rZRT-2730 POWER AMP\r", {"alarm AMPLIFIER RESTARTED"});
    row("alarm texts", "POWER SUPPLY FAULTCURRENT LIMITER IN EFFECT HIGH VSWR",
        {"alarm POWER SUPPLY FAULT", "alarm CURRENT LIMITER IN EFFECT", "alarm HIGH VSWR"});
    row("current alarms are not the current reading",
        "SUM OF CURRENT > 100.00 AMPS\rCURRENT IMBALANCE\r",
        {"alarm SUM OF CURRENT > 100.00 AMPS", "alarm CURRENT IMBALANCE"});
    row("over-power twice: warning before each line", "PWR FWD ABOVE 1100\rPWR FWD ABOVE 1100",
        {"warning", "alarm PWR FWD ABOVE 1100", "warning", "alarm PWR FWD ABOVE 1100"});
    row("marker cut off by the end", "HIGH VSW", {});
    row("lower case not recognised", "high vswr fwd: 850 ", {});
    row("one character changed", "HIGH VSWX", {});
    row("marker inside a field value recognised again", "REV: HIGH VSWR\r",
        {"rev=HIGH VSWR", "alarm HIGH VSWR"});
    row("forward marker inside a current field", "CURRENT:  FWD: 1  2  3  4  ",
        {"i1=FWD:", "i2=", "i3=2", "i4=3", "total=4", "fwd=1"});
    row("reading inside another reading's field", "REV: FWD: 7 \r", {"rev=FWD: 7 ", "fwd=7"});
    row("latin-1 and NUL bytes are ordinary characters", QByteArray("FWD: \xb0\0 ", 8),
        {QString::fromLatin1("fwd=\xb0") + QChar(0)});
}

void TestScanner::reports() {
    QFETCH(QByteArray, buffer);
    QFETCH(QStringList, expected);
    QCOMPARE(scanned(buffer), expected);
}

void TestScanner::longBufferIsScannedToTheEnd() {
    // A line never quiet for 500 ms piles up; what arrived last must still count.
    QByteArray buffer(40000, 'x');
    buffer += "HIGH VSWR FWD: 900 ";
    QCOMPARE(scanned(buffer), (QStringList{"alarm HIGH VSWR", "fwd=900"}));
}

QTEST_APPLESS_MAIN(TestScanner)
#include "tst_scanner.moc"
