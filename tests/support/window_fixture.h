// The real main window on the offscreen platform in a fresh settings folder, with recorded
// message boxes, on the recording serial component or on the real one (LiveWindow).
#pragma once

#include "fake_serial.h"
#include "link/qt_serial_component.h"
#include "recording_message_box.h"
#include "temp_settings.h"
#include "ui/frm_wattmeter.h"

#include <QProcess>

#include <memory>

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
    Serial* serial = new Serial; // the window's own
    RecordingMessageBox* boxes = new RecordingMessageBox;
    std::unique_ptr<ui::frmWattmeter> window{
        new ui::frmWattmeter(std::unique_ptr<seriallink::SerialComponent>(serial),
                             std::unique_ptr<app::MessageBox>(boxes))};

    template <typename T = QWidget> T& part(const char* name) const {
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
