// The head of an HTTP/1.x request (request line and header fields) read from what a client has
// sent so far, within fixed bounds. Pure: no Qt, no sockets, so it can be fuzzed alone.
#pragma once

#include <cstddef>
#include <string_view>

namespace dashboard {

inline constexpr std::size_t kMaxRequestLine = 2048;
inline constexpr std::size_t kMaxHead = 8192;

struct RequestHead {
    enum Status {
        Incomplete, // wait for more
        Complete,   // length bytes make a well-formed head
        BadRequest, // 400
        UriTooLong, // 414: the request line passed kMaxRequestLine
        TooLarge,   // 431: the head passed kMaxHead
    };
    Status status = Incomplete;
    std::size_t length = 0; // of the head, through its empty line

    std::string_view method; // as sent; only GET and HEAD are served
    std::string_view target; // path and query
    bool http10 = false;
    // Fields that may come once; empty when absent.
    std::string_view host;
    std::string_view origin;
    std::string_view websocketKey;
    std::string_view websocketVersion;
    bool hasBody = false;   // a Content-Length other than 0, or a Transfer-Encoding
    bool close = false;     // Connection: close, or HTTP/1.0 without keep-alive
    bool websocket = false; // an HTTP/1.1 Upgrade: websocket, with Connection: Upgrade
};

// Every line of a head ends in CR LF, as browsers send it: a bare LF is refused, since a reader
// that looks only for CR LF CR LF (Qt's WebSocket server) would wait past the head's end.
RequestHead readRequestHead(std::string_view received);

// Whether a Host field (with or without its port) names this machine in a way no DNS answer can
// change: an IP address literal, "localhost", or one of the names the operator allowed
// (separated by commas).
bool hostAllowed(std::string_view host, std::string_view allowedNames);

} // namespace dashboard
