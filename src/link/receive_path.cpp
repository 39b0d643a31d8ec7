#include "receive_path.h"

#include "appendlog.h"
#include "interval_timer.h"
#include "serial_component.h"

namespace seriallink {

std::string upperCaseLatin1(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        const auto byte = static_cast<unsigned char>(c);
        // a-z, and à-þ except the division sign ÷ (0xF7).
        if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7))
            c = static_cast<char>(byte - 0x20);
    }
    return upper;
}

void receive(SerialComponent& comm, IntervalTimer& timer, std::string& parsestring,
             QPlainTextEdit& term) {
    timer.setEnabled(false);
    if (comm.commEvent() == comEvReceive) {
        const QByteArray text = comm.input();
        const std::string_view bytes(text.constData(), static_cast<std::size_t>(text.size()));
        parsestring.append(bytes);
        appendlog(term, upperCaseLatin1(bytes));
    }
    timer.setEnabled(true);
}

} // namespace seriallink
