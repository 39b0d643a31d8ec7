// Fuzzes the request head reader with anything a client may send first: it stays in the bytes and
// bounds, what it decided stays decided with more after it, and a head ends where Qt looks for it.
#include "dashboard/request_head.h"

#include <cstdint>
#include <cstdlib>
#include <string>

static bool inside(std::string_view part, std::string_view whole) {
    return part.empty() || (part.data() >= whole.data() &&
                            part.data() + part.size() <= whole.data() + whole.size());
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using dashboard::RequestHead;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const RequestHead head = dashboard::readRequestHead(bytes);
    const std::string longer = std::string(bytes) + "\nGET / HTTP/1.1\r\n";
    const RequestHead again = dashboard::readRequestHead(longer);
    if (head.status != RequestHead::Incomplete && again.status != head.status)
        std::abort();
    if (head.status == RequestHead::Complete) {
        const std::string_view read = bytes.substr(0, head.length);
        if (head.length > dashboard::kMaxHead || !inside(head.method, read) ||
            !inside(head.target, read) || !inside(head.host, read) || !inside(head.origin, read) ||
            !inside(head.websocketKey, read) || !inside(head.websocketVersion, read) ||
            !head.target.starts_with('/') || read.find("\r\n\r\n") + 4 != head.length ||
            again.length != head.length || again.host != head.host)
            std::abort();
    }
    (void)dashboard::hostAllowed(bytes, "shack.lan,radio");
    return 0;
}
