// The station as JSON, the same for every surface that serves it: the dashboard's
// /api/readings and the state it pushes to its pages.
#pragma once

#include <QJsonObject>
#include <QJsonValue>

#include <functional>
#include <optional>

namespace app {

class Station;

// The fields' names, and the names of their values as numbers, in telemetry::Reading order.
inline constexpr const char* kDisplayNames[] = {"forward", "reflected", "vswr",   "stage1",
                                                "stage2",  "stage3",    "stage4", "total"};
inline constexpr const char* kNumberNames[] = {"forward_w", "reflected_w", "vswr",     "stage1_a",
                                               "stage2_a",  "stage3_a",    "stage4_a", "total_a"};

// The journal's state, as Station::Journal::State numbers it.
inline constexpr const char* kJournalStates[] = {"off", "ok", "failing"};

QJsonObject stateJson(const Station& station);
// Calls changed() after every change of the station that stateJson() shows.
void followState(const Station& station, const QObject* context,
                 const std::function<void()>& changed);

// The shortest text that reads back as the same single-precision value: "1.3", never
// "1.29999995".
QString shortest(float value);
// A number for JSON, or null.
QJsonValue jsonNumber(std::optional<float> value);
// ISO 8601, UTC, with milliseconds.
QString isoTime(qint64 ms);
// Text from the line as a surface shows it: a backslash, \r, \n and \t escaped, and every other
// control character and everything above `highest` as \xNN, so nothing the line sent hides.
QString escaped(const QString& text, char16_t highest = 0xFFFF);

} // namespace app
