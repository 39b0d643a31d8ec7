// The yardstick for start-up in compare_peers.sh: the least a Qt 6 program with a text pane
// does before its first window is on the screen.
#include <QApplication>
#include <QPlainTextEdit>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QPlainTextEdit pane;
    pane.setWindowTitle(QStringLiteral("bare Qt window"));
    pane.resize(608, 268);
    pane.show();
    return application.exec();
}
