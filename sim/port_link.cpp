#include "sim/port_link.h"

#include <algorithm>
#include <cctype>
#include <unistd.h>

namespace fs = std::filesystem;

namespace sim {

namespace {

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(
               text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// Where a link points, made absolute against the link's folder.
fs::path linkTarget(const fs::path& link, std::error_code& error) {
    const fs::path target = fs::read_symlink(link, error);
    if (error || target.is_absolute())
        return target.lexically_normal();
    return (link.parent_path() / target).lexically_normal();
}

} // namespace

bool isPseudoTerminalPath(std::string_view path) {
    for (std::string_view prefix : {std::string_view("/dev/pts/"), std::string_view("/dev/ttys")})
        if (path.substr(0, prefix.size()) == prefix && allDigits(path.substr(prefix.size())))
            return true;
    return false;
}

std::string claimPortLink(const fs::path& link, const std::string& device) {
    std::error_code error;
    fs::create_directories(link.parent_path(), error);
    if (error)
        return "cannot create " + link.parent_path().string() + ": " + error.message();

    const fs::file_status status = fs::symlink_status(link, error);
    if (fs::exists(status)) {
        if (!fs::is_symlink(status))
            return link.string() + " exists and is not a link; not replacing it.";
        const fs::path target = linkTarget(link, error);
        if (error)
            return "cannot read " + link.string() + ": " + error.message();
        if (!isPseudoTerminalPath(target.string()))
            return link.string() + " points to " + target.string() +
                   ", which is not a pseudo-terminal; not replacing it. Use another --com, or "
                   "remove the link if that device is gone for good.";
    }

    // Build the new link beside the old one and rename it over, so the program never finds
    // the port missing in between.
    const fs::path fresh = link.parent_path() /
                           ("." + link.filename().string() + ".new." + std::to_string(::getpid()));
    fs::remove(fresh, error);
    fs::create_symlink(device, fresh, error);
    if (!error)
        fs::rename(fresh, link, error);
    if (error) {
        std::error_code ignored;
        fs::remove(fresh, ignored);
        return "cannot link " + link.string() + " to " + device + ": " + error.message();
    }
    return {};
}

void releasePortLink(const fs::path& link, const std::string& device) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(link, error)))
        return;
    if (linkTarget(link, error) == fs::path(device).lexically_normal() && !error)
        fs::remove(link, error);
}

} // namespace sim
