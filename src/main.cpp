#include "link/qt_serial_component.h"
#include "ui/frm_wattmeter.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    ui::frmWattmeter window(std::make_unique<seriallink::QtSerialComponent>());
    window.Form_Load();
    window.show();
    return application.exec();
}
