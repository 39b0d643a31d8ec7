// Text to number for the bars. The scan fuzzer holds the conversion against strtof wherever
// both read a number; these are the cases it leaves open: the ends of the single range.
#include "telemetry/number.h"

#include <QTest>

#include <optional>

class tst_number : public QObject {
    Q_OBJECT
private slots:
    void converts_data();
    void converts();
};

void tst_number::converts_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected"); // "refused" when there is no number

    QTest::newRow("plain watts") << QByteArray("850") << "850";
    QTest::newRow("blanks and tab around") << QByteArray("\t12 ") << "12";
    QTest::newRow("exponent with sign") << QByteArray("25E-1") << "2.5";
    QTest::newRow("largest single") << QByteArray("3.4e38") << "3.4e+38";
    QTest::newRow("above single range") << QByteArray("1e40") << "refused";
    QTest::newRow("below single range") << QByteArray("1e-50") << "refused";
    QTest::newRow("unit behind the number") << QByteArray("12W") << "refused";
    QTest::newRow("empty") << QByteArray("") << "refused";
}

void tst_number::converts() {
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);
    const std::optional<float> value = telemetry::toSingle(text.toStdString());
    QCOMPARE(value ? QString::number(double(*value), 'g', 6) : QString("refused"), expected);
}

QTEST_APPLESS_MAIN(tst_number)
#include "tst_number.moc"
