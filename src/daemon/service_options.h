// wattmeterd's options, from the command line and from a --config file of "key = value" lines
// (# starts a comment line). A key is an option's name without its dashes; a switch is "yes" or
// "no" (on the command line --poll or --poll=no); only a repeatable key may repeat. The command
// line overrides the file one key at a time.
#pragma once

#include "surfaces/surfaces.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace service {

struct Options {
    surfaces::Values values; // every option given, the surfaces' and the service's
    bool help = false;
    bool version = false;
};

// The options, or nothing and the line that says what is wrong (with the file and line number
// for a line of the config file).
std::optional<Options> parseOptions(const QStringList& arguments, QString& error);

// --help's text.
QString usage();

} // namespace service
