#include "command_buttons.h"

#include "message_box.h"
#include "serial_component.h"

#include <QLineEdit>

namespace seriallink {

void sendButtonCommand(SerialComponent& comm, MessageBox& boxes,
                       std::initializer_list<QLineEdit*> emptyFirst, bool portSelected,
                       std::string_view command) {
    for (QLineEdit* field : emptyFirst)
        field->clear();
    if (!portSelected) {
        boxes.MsgBox(QString::fromLatin1(kSelectPortFirst), vbCritical,
                     QString::fromLatin1(kApplicationTitle));
        return;
    }
    (void)comm.output(QByteArray(command.data(), static_cast<qsizetype>(command.size())));
}

} // namespace seriallink
