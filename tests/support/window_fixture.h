// The real main window on the offscreen platform in a fresh settings folder, with recorded
// message boxes, on a recording serial component or on the real one (LiveWindow).
#pragma once

#include "app/interval_timer.h"
#include "app/message_box.h"
#include "app/monitor.h"
#include "app/station.h"
#include "link/qt_serial_component.h"
#include "temp_settings.h"
#include "ui/frm_wattmeter.h"

#include <QByteArrayList>
#include <QProcess>
#include <QSet>

#include <functional>
#include <memory>

// Records every message box instead of showing it; onShow runs while the "box is open".
struct ShownBox {
    QString prompt;
    int style;
    QString title; // empty: the application title

    bool operator==(const ShownBox&) const = default;
};

class RecordingMessageBox : public app::MessageBox {
public:
    QList<ShownBox> shown;
    QStringList closed; // the prompts of boxes the program closed itself
    std::function<void()> onShow;

    int MsgBox(const QString& prompt, int style, const QString& title) override {
        shown << ShownBox{prompt, style, title};
        if (onShow)
            onShow();
        return app::vbOK;
    }
    void close(const QString& prompt) override { closed << prompt; }
};

// A recording serial component: it remembers every Output, opens or refuses ports as told,
// and raises receive events with given text.
class FakeSerial : public seriallink::SerialComponent {
public:
    QSet<int> refusedPorts;      // opening these ports fails
    QByteArrayList outputs;      // every accepted Output, one entry per write
    QStringList settingsApplied; // every Settings string
    int closes = 0;              // closes of an open port
    int rthreshold = 0;

    QByteArray written() const { return outputs.join(); }
    // Open or closed behind the program's back, as a device that comes or goes.
    void setOpen(bool open) { open_ = open; }
    // Raises one OnComm with the given event code; with code 2 the text waits in Input.
    void receive(const QByteArray& text, int code = seriallink::comEvReceive) {
        event_ = code;
        if (code == seriallink::comEvReceive)
            waiting_ += text;
        emit OnComm();
    }

    seriallink::Result setCommPort(int port) override {
        if (open_)
            return seriallink::Result::refused("Port already open");
        port_ = port;
        return {};
    }
    int commPort() const override { return port_; }
    seriallink::Result setPortOpen(bool open) override {
        if (open && (open_ || refusedPorts.contains(port_)))
            return seriallink::Result::refused(
                QString("COM%1 could not be opened: No such file or directory").arg(port_));
        closes += open_ && !open;
        open_ = open;
        return {};
    }
    bool portOpen() const override { return open_; }
    QString device() const override { return QString("/dev/fake%1").arg(port_); }
    seriallink::Result setSettings(const QString& settings) override {
        settingsApplied << settings;
        return {};
    }
    void setRThreshold(int threshold) override { rthreshold = threshold; }
    seriallink::Result output(const QByteArray& bytes) override {
        if (!open_)
            return seriallink::Result::refused("Port is closed");
        outputs << bytes;
        return {};
    }
    int commEvent() const override { return event_; }
    QByteArray input() override { return std::exchange(waiting_, {}); }

private:
    int port_ = 1;
    bool open_ = false;
    int event_ = 0;
    QByteArray waiting_;
};

class Pty;

// A widget, menu item or timer of the window by its design name; the test fails hard without it.
template <typename T = QWidget> T& part(const QObject& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("the window has no %s", name);
    return *found;
}

// Which port items carry a check mark, as port numbers.
QList<int> checkedPorts(const QObject& window);

template <typename Serial> struct Window {
    TempSettings settings;
    app::Station station;
    Serial* serial = new Serial; // the engine's own
    RecordingMessageBox* boxes = new RecordingMessageBox;
    std::unique_ptr<app::Monitor> monitor{
        new app::Monitor(std::unique_ptr<seriallink::SerialComponent>(serial), station)};
    std::unique_ptr<ui::frmWattmeter> window{
        new ui::frmWattmeter(*monitor, std::unique_ptr<app::MessageBox>(boxes))};

    // A widget or menu item of the window, or the engine's Timer1.
    template <typename T = QWidget> T& part(const char* name) const {
        if (T* found = monitor->findChild<T*>(QString::fromLatin1(name)))
            return *found;
        return ::part<T>(*window, name);
    }
};

struct WindowFixture : Window<FakeSerial> {
    // Text into the receive path, then the tick.
    void receiveAndTick(const QByteArray& text) {
        serial->receive(text);
        window->Timer1_Timer();
    }
};

struct LiveWindow : Window<seriallink::QtSerialComponent> {
    QProcess simulator;

    ~LiveWindow();
    // Stores COM<port> with pty as its device and loads the window; true once RESET arrived.
    bool load(Pty& pty, int port = 1);
    // Starts the simulator program serving COM1 with these options and loads the window on it.
    bool loadWithSimulator(const QStringList& options = {"--fast"});
    void tellSimulator(const char* command) { simulator.write(QByteArray(command) + '\n'); }
};
