#include "window_view.h"

#include "lamp.h"
#include "log_pane.h"

#include <QLineEdit>
#include <QProgressBar>

#include <algorithm>
#include <cmath>
#include <utility>

namespace ui {

namespace {

// "HH:mm:ss - <text>" and the carriage return that ends it in the pane.
std::string line(const QString& time, std::string_view text) {
    return time.toStdString().append(" - ").append(text).append("\r");
}

} // namespace

std::optional<int> barValue(std::optional<float> value, int minimum, int maximum) {
    if (!value)
        return std::nullopt;
    return static_cast<int>(std::lround(std::clamp(*value, float(minimum), float(maximum))));
}

void WindowView::show(std::deque<app::Finding>& found) {
    // The line has gone quiet: the terminal pane shows all of it before alarm lines are added or
    // the window waits on a warning.
    flushPane(*view_.terminal);
    while (!found.empty()) {
        const app::Finding finding = std::move(found.front());
        found.pop_front();
        switch (finding.kind) {
        case app::Finding::Readings:
            take(*finding.readings);
            break;
        case app::Finding::Band:
            view_.highLamp->setFillStyle(finding.high ? Lamp::Solid : Lamp::Transparent);
            view_.lowLamp->setFillStyle(finding.high ? Lamp::Transparent : Lamp::Solid);
            break;
        case app::Finding::OverPower:
            // The box waits for OK with everything found before it shown behind it; what is
            // found meanwhile joins the list.
            draw();
            boxes_.MsgBox(QString::fromLatin1(app::kOverPowerWarning), app::vbExclamation);
            monitor_.acknowledgeWarning();
            [[fallthrough]];
        case app::Finding::Alarm:
            appendlogCoalesced(*view_.alarms,
                               line(finding.alarm.time, finding.alarm.text.toStdString()));
            break;
        }
    }
    draw();
}

void WindowView::note(std::string_view text) {
    appendlog(*view_.alarms, line(monitor_.timeOfDay(), text));
}

void WindowView::take(const app::Finding::Fields& found) {
    for (std::size_t i = 0; i < texts_.size(); ++i)
        if (found.fields[i])
            texts_[i] = found.fields[i]->text;
    const auto bar = [&found](telemetry::Reading field, const QProgressBar& widget,
                              std::optional<int>& shown) {
        if (const auto value =
                barValue(found.numbers[std::size_t(field)], widget.minimum(), widget.maximum()))
            shown = value;
    };
    bar(telemetry::Reading::Forward, *view_.forwardBar, forwardBar_);
    bar(telemetry::Reading::Reflected, *view_.reflectedBar, reflectedBar_);
}

void WindowView::draw() {
    for (std::size_t i = 0; i < texts_.size(); ++i) {
        // A flood of identical readings should not relayout the box for every one.
        if (const auto text = std::exchange(texts_[i], std::nullopt);
            text && view_.fields[i]->text() != *text)
            view_.fields[i]->setText(*text);
    }
    if (const auto value = std::exchange(forwardBar_, std::nullopt))
        view_.forwardBar->setValue(*value);
    if (const auto value = std::exchange(reflectedBar_, std::nullopt))
        view_.reflectedBar->setValue(*value);
    flushPane(*view_.alarms);
}

} // namespace ui
