// The receive path: each receive event holds the poll timer back for a full period, keeps
// the received text unchanged for the next tick's scan, and shows it upper-cased in the
// terminal pane.
#pragma once

#include <string>
#include <string_view>

class QPlainTextEdit;

namespace seriallink {

class IntervalTimer;
class SerialComponent;

// Upper case for one-byte characters: a-z and the Latin-1 letters that have a one-byte
// capital; every other byte stays as it is, so the length never changes.
std::string upperCaseLatin1(std::string_view text);

// Handles one OnComm event of comm.
void receive(SerialComponent& comm, IntervalTimer& timer, std::string& parsestring,
             QPlainTextEdit& term);

} // namespace seriallink
