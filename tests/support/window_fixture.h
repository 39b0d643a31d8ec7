// The real main window on the offscreen platform in a fresh settings folder, with recorded
// message boxes, on a recording serial component or on the real one (LiveWindow).
#pragma once

#include "engine_fixture.h"
#include "ui/frm_wattmeter.h"

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

template <typename Serial> struct Window : Engine<Serial> {
    RecordingMessageBox* boxes = new RecordingMessageBox;
    std::unique_ptr<ui::frmWattmeter> window{
        new ui::frmWattmeter(*this->monitor, std::unique_ptr<app::MessageBox>(boxes))};

    // A widget or menu item of the window, or the engine's Timer1.
    template <typename T = QWidget> T& part(const char* name) const {
        if (T* found = this->monitor->template findChild<T*>(QString::fromLatin1(name)))
            return *found;
        return ::part<T>(*window, name);
    }
};

struct WindowFixture : Window<FakeSerial> {};

struct LiveWindow : Window<seriallink::QtSerialComponent> {
    QProcess simulator;

    ~LiveWindow();
    // Stores COM<port> with pty as its device and loads the window; true once RESET arrived.
    bool load(Pty& pty, int port = 1);
    // Starts the simulator program serving COM1 with these options and loads the window on it.
    bool loadWithSimulator(const QStringList& options = {"--fast"});
    void tellSimulator(const char* command) { simulator.write(QByteArray(command) + '\n'); }
};
