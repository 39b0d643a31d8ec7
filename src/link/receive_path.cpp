#include "receive_path.h"

#include "serial_component.h"

#include <algorithm>
#include <array>

namespace seriallink {

namespace {

// Every byte's capital, looked up rather than tested: a flood goes through here a megabyte at
// a time.
constexpr std::array<char, 256> kCapital = [] {
    std::array<char, 256> capital{};
    for (int byte = 0; byte < 256; ++byte) {
        // a-z, and à-þ except the division sign ÷ (0xF7).
        const bool small =
            (byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7);
        capital[std::size_t(byte)] = static_cast<char>(small ? byte - 0x20 : byte);
    }
    return capital;
}();

} // namespace

std::string upperCaseLatin1(std::string_view text) {
    std::string upper(text.size(), '\0');
    std::transform(text.begin(), text.end(), upper.begin(),
                   [](char c) { return kCapital[static_cast<unsigned char>(c)]; });
    return upper;
}

std::optional<std::string> takeReceived(SerialComponent& comm, std::string& parsestring) {
    if (comm.commEvent() != comEvReceive)
        return std::nullopt;
    const QByteArray text = comm.input();
    const std::string_view bytes(text.constData(), static_cast<std::size_t>(text.size()));
    parsestring.append(bytes);
    if (parsestring.size() > kReceiveLimit + kReceiveSlack)
        parsestring.erase(0, parsestring.size() - kReceiveLimit);
    return upperCaseLatin1(bytes);
}

} // namespace seriallink
