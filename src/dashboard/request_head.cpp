#include "request_head.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <utility>

namespace dashboard {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(
                                       a.begin(), a.end(), b.begin(),
                                       [](char x, char y) {
                                           return std::tolower(static_cast<unsigned char>(x)) ==
                                                  std::tolower(static_cast<unsigned char>(y));
                                       });
}

bool containsToken(std::string_view list, std::string_view token) {
    while (!list.empty()) {
        const std::size_t comma = std::min(list.find(','), list.size());
        std::string_view item = list.substr(0, comma);
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ')
            item.remove_suffix(1);
        if (equalsIgnoringCase(item, token))
            return true;
        list.remove_prefix(std::min(comma + 1, list.size()));
    }
    return false;
}

bool isToken(std::string_view text) {
    static constexpr std::string_view extra = "!#$%&'*+-.^_`|~";
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || extra.find(c) != extra.npos;
    });
}

bool isVisible(std::string_view text) {
    return std::all_of(
        text.begin(), text.end(),
        [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return u > 0x20 && u != 0x7f;
        });
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Reads the request line and fields; the head ends at the first empty line. Lines end in CR LF
// or a bare LF.
RequestHead::Status parse(std::string_view head, RequestHead& r) {
    std::array<std::string_view, 3> parts;
    const std::size_t lineEnd = head.find('\n');
    std::string_view line = head.substr(0, lineEnd);
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    for (std::string_view& part : parts) {
        const std::size_t blank = std::min(line.find(' '), line.size());
        part = line.substr(0, blank);
        line.remove_prefix(std::min(blank + 1, line.size()));
    }
    if (!line.empty() || !isToken(parts[0]) || !parts[1].starts_with('/') || !isVisible(parts[1]))
        return RequestHead::BadRequest;
    if (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0")
        return RequestHead::BadRequest;
    r.method = parts[0];
    r.target = parts[1];
    r.http10 = parts[2] == "HTTP/1.0";
    r.close = r.http10;
    bool hostSeen = false;
    for (std::size_t start = lineEnd + 1; start < head.size();) {
        const std::size_t end = std::min(head.find('\n', start), head.size());
        std::string_view field = head.substr(start, end - start);
        start = end + 1;
        if (field.ends_with('\r'))
            field.remove_suffix(1);
        if (field.empty())
            break;
        const std::size_t colon = field.find(':');
        if (colon == field.npos || !isToken(field.substr(0, colon)))
            return RequestHead::BadRequest; // also a folded line, which starts with a blank
        const std::string_view name = field.substr(0, colon);
        const std::string_view value = trimmed(field.substr(colon + 1));
        if (equalsIgnoringCase(name, "Host")) {
            if (std::exchange(hostSeen, true))
                return RequestHead::BadRequest;
            r.host = value;
        } else if (equalsIgnoringCase(name, "Origin")) {
            r.origin = value;
        } else if (equalsIgnoringCase(name, "Content-Length")) {
            r.hasBody = r.hasBody || value != "0";
        } else if (equalsIgnoringCase(name, "Transfer-Encoding")) {
            r.hasBody = true;
        } else if (equalsIgnoringCase(name, "Connection")) {
            r.close =
                containsToken(value, "close") || (r.http10 && !containsToken(value, "keep-alive"));
        } else if (equalsIgnoringCase(name, "Upgrade")) {
            r.websocket = containsToken(value, "websocket");
        }
    }
    if (!hostSeen && !r.http10)
        return RequestHead::BadRequest;
    return RequestHead::Complete;
}

} // namespace

RequestHead readRequestHead(std::string_view received) {
    RequestHead r;
    const std::size_t firstLine = received.find('\n');
    if (std::min(firstLine, received.size()) > kMaxRequestLine) {
        r.status = RequestHead::UriTooLong;
        return r;
    }
    // The empty line: "\n\n" or "\n\r\n".
    std::size_t end = received.npos;
    for (std::size_t at = received.find('\n'); at != received.npos;
         at = received.find('\n', at + 1)) {
        if (received.substr(at + 1, 1) == "\n") {
            end = at + 2;
            break;
        }
        if (received.substr(at + 1, 2) == "\r\n") {
            end = at + 3;
            break;
        }
    }
    if (end == received.npos || end > kMaxHead) {
        r.status = received.size() > kMaxHead || end != received.npos ? RequestHead::TooLarge
                                                                      : RequestHead::Incomplete;
        return r;
    }
    r.length = end;
    r.status = parse(received.substr(0, end), r);
    r.crlf = true;
    for (std::size_t at = received.find('\n'); at < end; at = received.find('\n', at + 1))
        r.crlf = r.crlf && at > 0 && received[at - 1] == '\r';
    return r;
}

bool hostAllowed(std::string_view host, std::string_view allowedNames) {
    // Without its port: "[::1]:8080" -> "::1", "127.0.0.1:8080" -> "127.0.0.1".
    std::string_view name = host;
    if (name.starts_with('[')) {
        const std::size_t close = name.find(']');
        if (close == name.npos)
            return false;
        const std::string_view rest = name.substr(close + 1);
        name = name.substr(1, close - 1);
        if (!rest.empty() && !rest.starts_with(':'))
            return false;
        return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
        });
    }
    if (const std::size_t colon = name.rfind(':'); colon != name.npos)
        name = name.substr(0, colon);
    if (name.ends_with('.'))
        name.remove_suffix(1);
    // Four decimal numbers of 0 to 255: what browsers send for an IPv4 address.
    int parts = 0;
    for (std::string_view rest = name; parts < 5;) {
        const std::size_t dot = std::min(rest.find('.'), rest.size());
        unsigned value = 256;
        const auto [end, error] = std::from_chars(rest.data(), rest.data() + dot, value);
        if (dot == 0 || dot > 3 || error != std::errc() || end != rest.data() + dot || value > 255)
            break;
        ++parts;
        if (dot == rest.size()) {
            if (parts == 4)
                return true;
            break;
        }
        rest.remove_prefix(dot + 1);
    }
    return equalsIgnoringCase(name, "localhost") ||
           (!name.empty() && containsToken(allowedNames, name));
}

} // namespace dashboard
