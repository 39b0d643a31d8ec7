// The engine and its station without a window, under QCoreApplication: on a recording serial
// component, or on the real one against the simulator program.
#pragma once

#include "app/interval_timer.h"
#include "app/message_box.h"
#include "app/monitor.h"
#include "app/station.h"
#include "link/qt_serial_component.h"
#include "temp_settings.h"

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

template <typename Serial> struct Engine {
    TempSettings settings;
    app::Station station;
    Serial* serial = new Serial; // the engine's own
    std::unique_ptr<app::Monitor> monitor{
        new app::Monitor(std::unique_ptr<seriallink::SerialComponent>(serial), station)};

    void receiveAndTick(const QByteArray& text) {
        serial->receive(text);
        monitor->Timer1_Timer();
    }
};

// Starts the simulator program serving COM<port> with these options, linked in the settings'
// ports folder, with that port stored; true once it is ready.
bool startSimulator(QProcess& simulator, TempSettings& settings, const QStringList& options,
                    int port = 1);
void stopSimulator(QProcess& simulator);
// Writes the file whole, making its folder first.
bool writeFile(const QString& path, const QByteArray& content);
