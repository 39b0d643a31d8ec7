// The command buttons: each empties the reading fields its reply will fill, makes sure a
// port has been chosen, and writes its command. A write that fails (the chosen port did not
// open) is ignored: the operator sees no reply and can choose the port again.
#pragma once

#include <initializer_list>
#include <string_view>

class QLineEdit;

namespace seriallink {

class MessageBox;
class SerialComponent;

inline constexpr char kSelectPortFirst[] = "Please select a Com Port first.";

void sendButtonCommand(SerialComponent& comm, MessageBox& boxes,
                       std::initializer_list<QLineEdit*> emptyFirst, bool portSelected,
                       std::string_view command);

} // namespace seriallink
