// What a screen reader finds in the window: a name for every value, and values it can read.
#include "support/window_fixture.h"
#include "ui/lamp.h"

#include <QAccessible>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>

class tst_accessibility : public QObject {
    Q_OBJECT

private slots:
    void names_data();
    void names();
    void valuesAreReadable();
    void lampsSayWhetherTheyAreLit();
};

void tst_accessibility::names_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("role");

    const auto row = [](const char* widget, const char* name, QAccessible::Role role) {
        QTest::newRow(widget) << QString::fromLatin1(name) << int(role);
    };
    row("txtForward", "Forward Power", QAccessible::EditableText);
    row("txtReflected", "Reflected Power", QAccessible::EditableText);
    row("txtVSWR", "VSWR", QAccessible::EditableText);
    row("txtI1", "Stage 1 Current", QAccessible::EditableText);
    row("txtI2", "Stage 2 Current", QAccessible::EditableText);
    row("txtI3", "Stage 3 Current", QAccessible::EditableText);
    row("txtI4", "Stage 4 Current", QAccessible::EditableText);
    row("txtITotal", "Total Current", QAccessible::EditableText);
    row("prgBar1", "Forward Power", QAccessible::ProgressBar);
    row("prgBar2", "Reflected Power", QAccessible::ProgressBar);
    row("shpHigh", "2m", QAccessible::Client);
    row("shpLow", "6m", QAccessible::Client);
    row("txtAlarms", "Alarms", QAccessible::EditableText);
    row("txtTerm", "Terminal", QAccessible::EditableText);
}

void tst_accessibility::names() {
    QFETCH(QString, name);
    QFETCH(int, role);
    WindowFixture f;
    auto* widget = f.window->findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Name), name);
    QCOMPARE(int(accessible->role()), role);
}

void tst_accessibility::valuesAreReadable() {
    WindowFixture f;
    f.window->txtForward->setText(QStringLiteral("850"));
    f.window->prgBar1->setValue(850);
    QCOMPARE(QAccessible::queryAccessibleInterface(f.window->txtForward)->text(QAccessible::Value),
             QStringLiteral("850"));
    QAccessibleValueInterface* bar = QAccessible::queryAccessibleInterface(f.window->prgBar1)->valueInterface();
    QVERIFY(bar);
    QCOMPARE(bar->currentValue().toInt(), 850);
    QCOMPARE(bar->maximumValue().toInt(), 1100);
}

void tst_accessibility::lampsSayWhetherTheyAreLit() {
    WindowFixture f;
    const auto description = [](ui::Lamp* lamp) {
        return QAccessible::queryAccessibleInterface(lamp)->text(QAccessible::Description);
    };
    QCOMPARE(description(f.window->shpHigh), QStringLiteral("unlit"));
    f.serial->receive("HIGH BAND SELECTED");
    f.window->Timer1_Timer();
    QCOMPARE(description(f.window->shpHigh), QStringLiteral("lit"));
    QCOMPARE(description(f.window->shpLow), QStringLiteral("unlit"));
}

QTEST_MAIN(tst_accessibility)
#include "tst_accessibility.moc"
