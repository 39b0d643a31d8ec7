#include "telemetry/number.h"

#include <QTest>

#include <optional>
#include <tuple>

Q_DECLARE_METATYPE(std::optional<float>)

class TestNumber : public QObject {
    Q_OBJECT
private slots:
    void converts_data();
    void converts();
};

void TestNumber::converts_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<std::optional<float>>("expected");

    const std::optional<float> no;
    const std::tuple<const char*, const char*, std::optional<float>> rows[] = {
        {"plain watts", "850", 850.0f},
        {"blanks around", " 12 ", 12.0f},
        {"tab before", "\t7", 7.0f},
        {"minus sign", "-1", -1.0f},
        {"plus sign", "+3.5", 3.5f},
        {"exponent", "1e3", 1e3f},
        {"exponent with sign", "25E-1", 2.5f},
        {"no integer digits", ".5", 0.5f},
        {"no fraction digits", "5.", 5.0f},
        {"empty", "", no},
        {"point only", ".", no},
        {"thousands separator", "1,100", no},
        {"decimal comma", "1,5", no},
        {"unit behind the number", "12W", no},
        {"blank inside", "8 50", no},
        {"hex", "0x10", no},
        {"inf", "inf", no},
        {"nan", "nan", no},
        {"two decimal points", "1.2.3", no},
        {"exponent without digits", "1e", no},
        {"above single range", "1e40", no},
        {"below single range", "1e-50", no},
    };
    for (const auto& [name, text, expected] : rows) {
        QTest::newRow(name) << QByteArray(text) << expected;
    }
}

void TestNumber::converts() {
    QFETCH(QByteArray, text);
    QFETCH(std::optional<float>, expected);

    auto shown = [](std::optional<float> value) {
        return value ? QString::number(double(*value), 'g', 9) : QString("refused");
    };
    const auto result =
        telemetry::toSingle(std::string_view(text.constData(), std::size_t(text.size())));
    QCOMPARE(shown(result), shown(expected));
}

QTEST_APPLESS_MAIN(TestNumber)
#include "tst_number.moc"
