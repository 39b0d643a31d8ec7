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

// A field value may hold tabs, but no other control character: a stray CR or NUL reads
// differently to each reader along the way.
bool isFieldText(std::string_view text) {
    return std::none_of(
        text.begin(), text.end(),
        [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return (u < 0x20 && c != '\t') || u == 0x7f;
        });
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The name in a Host field, without its port: "[::1]:8080" -> "::1", "127.0.0.1:8080" ->
// "127.0.0.1". False when what follows the name is not a colon and digits.
bool hostName(std::string_view host, std::string_view& name) {
    std::size_t colon = host.rfind(':');
    name = host.substr(0, colon);
    if (host.starts_with('[')) {
        const std::size_t close = host.find(']');
        if (close == host.npos)
            return false;
        name = host.substr(1, close - 1);
        colon = close + 1 == host.size() ? host.npos : close + 1;
        if (colon != host.npos && host[colon] != ':')
            return false;
    }
    const std::string_view port = colon == host.npos ? "" : host.substr(colon + 1);
    return std::all_of(port.begin(), port.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// The fields a request may give once: a second one could say something else to another reader.
constexpr std::pair<std::string_view, std::string_view RequestHead::*> kOnce[] = {
    {"Host", &RequestHead::host},
    {"Origin", &RequestHead::origin},
    {"Sec-WebSocket-Key", &RequestHead::websocketKey},
    {"Sec-WebSocket-Version", &RequestHead::websocketVersion}};

// Reads the request line and fields of a head that ends in its empty line.
RequestHead::Status parse(std::string_view head, RequestHead& r) {
    std::array<std::string_view, 3> parts;
    const std::size_t lineEnd = head.find("\r\n");
    std::string_view line = head.substr(0, lineEnd);
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
    std::array<bool, std::size(kOnce)> seen{};
    bool upgrade = false, toWebsocket = false;
    for (std::size_t start = lineEnd + 2, end; (end = head.find("\r\n", start)) != start;
         start = end + 2) {
        const std::string_view field = head.substr(start, end - start);
        const std::size_t colon = field.find(':');
        if (colon == field.npos || !isToken(field.substr(0, colon)))
            return RequestHead::BadRequest; // also a folded line, which starts with a blank
        const std::string_view name = field.substr(0, colon);
        const std::string_view value = trimmed(field.substr(colon + 1));
        if (!isFieldText(value))
            return RequestHead::BadRequest;
        for (std::size_t i = 0; i < std::size(kOnce); ++i) {
            if (equalsIgnoringCase(name, kOnce[i].first)) {
                if (std::exchange(seen[i], true))
                    return RequestHead::BadRequest;
                r.*kOnce[i].second = value;
            }
        }
        if (equalsIgnoringCase(name, "Content-Length")) {
            r.hasBody = r.hasBody || value != "0";
        } else if (equalsIgnoringCase(name, "Transfer-Encoding")) {
            r.hasBody = true;
        } else if (equalsIgnoringCase(name, "Connection")) {
            r.close =
                containsToken(value, "close") || (r.http10 && !containsToken(value, "keep-alive"));
            upgrade = containsToken(value, "upgrade");
        } else if (equalsIgnoringCase(name, "Upgrade")) {
            toWebsocket = equalsIgnoringCase(value, "websocket");
        }
    }
    std::string_view hostOnly;
    if ((!seen[0] && !r.http10) || !hostName(r.host, hostOnly))
        return RequestHead::BadRequest;
    // What the WebSocket server takes for a handshake; anything else is an ordinary request.
    r.websocket = upgrade && toWebsocket && !r.http10;
    return RequestHead::Complete;
}

} // namespace

RequestHead readRequestHead(std::string_view received) {
    RequestHead r;
    const std::size_t end = received.find("\r\n\r\n");
    const std::string_view head = received.substr(0, end == received.npos ? end : end + 4);
    std::size_t bareLf = head.find('\n');
    while (bareLf != head.npos && bareLf > 0 && head[bareLf - 1] == '\r')
        bareLf = head.find('\n', bareLf + 1);
    if (std::min(received.find('\n'), received.size()) > kMaxRequestLine)
        r.status = RequestHead::UriTooLong;
    else if (bareLf < kMaxHead)
        r.status = RequestHead::BadRequest;
    else if (head.size() > kMaxHead)
        r.status = RequestHead::TooLarge;
    else if (end != received.npos)
        r.status = parse(head, r);
    if (r.status == RequestHead::Complete)
        r.length = head.size();
    return r;
}

bool hostAllowed(std::string_view host, std::string_view allowedNames) {
    std::string_view name;
    if (!hostName(host, name))
        return false;
    if (host.starts_with('['))
        return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
        });
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
