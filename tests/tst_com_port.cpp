// COM port resolution through the per-user links, and the texts the operator gets when a port
// cannot be opened.
#include "link/com_port.h"
#include "support/temp_settings.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <cerrno>

using seriallink::OpenProblem;

class tst_com_port : public QObject {
    Q_OBJECT
private slots:
    void portsFolderFollowsConfigHome() {
        TempSettings first;
        QCOMPARE(seriallink::portsFolder(), first.portsFolder());
        {
            TempSettings second;
            QCOMPARE(seriallink::portsFolder(), second.portsFolder());
        }
        QCOMPARE(seriallink::portsFolder(), first.portsFolder());
    }

    void comPortDevice_data() {
        QTest::addColumn<int>("port");
        // Links to create, as pairs of name (in the ports folder unless absolute) and target;
        // "@" stands for the temporary folder, which holds a file ttyUSB0.
        QTest::addColumn<QStringList>("links");
        QTest::addColumn<QString>("expected");

        QTest::newRow("link to a device gives the device")
            << 3 << QStringList{"com3", "@/ttyUSB0"} << "@/ttyUSB0";
        QTest::newRow("chain of links gives the final device")
            << 3 << QStringList{"com3", "@/by-id", "@/by-id", "@/ttyUSB0"} << "@/ttyUSB0";
        QTest::newRow("relative link resolves beside the link")
            << 5 << QStringList{"com5", "../../ttyUSB0"} << "@/ttyUSB0";
        QTest::newRow("dangling link still names its target")
            << 3 << QStringList{"com3", "@/gone/ttyUSB7"} << "@/gone/ttyUSB7";
        QTest::newRow("another port's link is not used")
            << 2 << QStringList{"com3", "@/ttyUSB0"} << "/dev/ttyS1";
        QTest::newRow("no link on COM1 falls back to ttyS0") << 1 << QStringList{} << "/dev/ttyS0";
        QTest::newRow("no link on COM16 falls back to ttyS15")
            << 16 << QStringList{} << "/dev/ttyS15";
    }

    void comPortDevice() {
#ifndef Q_OS_LINUX
        QSKIP("links and the ttyS fallback are Linux's");
#endif
        QFETCH(int, port);
        QFETCH(QStringList, links);
        QFETCH(QString, expected);

        TempSettings settings;
        const QString root = QFileInfo(settings.folder()).canonicalFilePath();
        QVERIFY(QDir().mkpath(settings.portsFolder()));
        QFile device(root + "/ttyUSB0");
        QVERIFY(device.open(QIODevice::WriteOnly));
        for (qsizetype i = 0; i + 1 < links.size(); i += 2) {
            const QString name = links[i].replace('@', root);
            const QString path = name.startsWith('/') ? name : settings.portsFolder() + '/' + name;
            QVERIFY(QFile::link(links[i + 1].replace('@', root), path));
        }
        QCOMPARE(seriallink::comPortDevice(port), expected.replace('@', root));
    }

    void openFailureDescription_data() {
        QTest::addColumn<QSerialPort::SerialPortError>("error");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<OpenProblem>("problem");
        QTest::addColumn<QStringList>("advice");     // each must appear
        QTest::addColumn<QStringList>("misleading"); // none may appear

        const QString linkLine = R"(ln -sf /dev/ttyUSB0 "@/com3")";
        QTest::newRow("missing device: plug in or link")
            << QSerialPort::DeviceNotFoundError << qt_error_string(ENOENT) << OpenProblem::Missing
            << QStringList{"not there", "Plug", linkLine} << QStringList{"dialout"};
        QTest::newRow("permission denied: dialout group")
            << QSerialPort::PermissionError << qt_error_string(EACCES)
            << OpenProblem::PermissionDenied
            << QStringList{"sudo usermod -aG dialout $USER", "log out"}
            << QStringList{"another program"};
        QTest::newRow("lock held elsewhere: the other program, not the group")
            << QSerialPort::PermissionError
            << QSerialPort::tr("Permission error while locking the device") << OpenProblem::InUse
            << QStringList{"another program", "Close"} << QStringList{"dialout"};
        QTest::newRow("busy device: in use")
            << QSerialPort::PermissionError << qt_error_string(EBUSY) << OpenProblem::InUse
            << QStringList{"another program"} << QStringList{"dialout"};
        QTest::newRow("not a terminal: link the right device")
            << QSerialPort::UnsupportedOperationError << qt_error_string(ENOTTY)
            << OpenProblem::Other << QStringList{linkLine} << QStringList{"dialout", "not there"};
    }

    void openFailureDescription() {
#ifndef Q_OS_LINUX
        QSKIP("the advice is Linux's");
#endif
        QFETCH(QSerialPort::SerialPortError, error);
        QFETCH(QString, reason);
        QFETCH(OpenProblem, problem);
        QFETCH(QStringList, advice);
        QFETCH(QStringList, misleading);

        TempSettings settings;
        QCOMPARE(seriallink::classifyOpenFailure(error, reason), problem);
        const QString text = seriallink::openFailureDescription(3, "/dev/ttyUSB4", error, reason);
        for (const QString& needed : QStringList{"COM3", "/dev/ttyUSB4", reason} + advice)
            QVERIFY2(text.contains(QString(needed).replace('@', settings.portsFolder())),
                     qPrintable(needed + " missing from:\n" + text));
        for (const QString& wrong : misleading)
            QVERIFY2(!text.contains(wrong), qPrintable(wrong + " should not be in:\n" + text));
        QVERIFY2(text.count('\n') <= 4, qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(tst_com_port)
#include "tst_com_port.moc"
