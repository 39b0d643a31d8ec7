// A real main window on the offscreen platform with the recording serial component and
// message boxes behind it, and a fresh settings folder.
#pragma once

#include "fake_serial.h"
#include "recording_message_box.h"
#include "temp_settings.h"
#include "ui/frm_wattmeter.h"

#include <memory>

struct WindowFixture {
    TempSettings settings;
    FakeSerial* serial = new FakeSerial;
    RecordingMessageBox* boxes = new RecordingMessageBox;
    std::unique_ptr<ui::frmWattmeter> window{
        new ui::frmWattmeter(std::unique_ptr<seriallink::SerialComponent>(serial),
                             std::unique_ptr<seriallink::MessageBox>(boxes))};

    // Which port items carry a check mark, as port numbers.
    QList<int> checkedPorts() const {
        QList<int> ports;
        for (int n = 1; n <= 16; ++n) {
            if (window->mnuPortsCom[n - 1]->isChecked())
                ports << n;
        }
        return ports;
    }
};
