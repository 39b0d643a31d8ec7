#include "window_position.h"

#include "app/settings_store.h"
#include "telemetry/number.h"

#include <QWidget>

#include <cmath>

namespace ui {

namespace {

// Window systems keep coordinates in 16-bit signed integers.
constexpr float kLargestEdge = 32767.0f;

const QString kFormLeft = QStringLiteral("FormLeft");
const QString kFormTop = QStringLiteral("FormTop");

QString readEdge(const QString& key) {
    return app::GetSetting(app::kAppName, app::kSection, key, QStringLiteral("0"));
}

} // namespace

int storedEdgeToPixels(const QString& twips) {
    const auto value = telemetry::toSingle(twips.toStdString());
    if (!value)
        return 0;
    const float pixels = std::round(*value / kTwipsPerPixel);
    if (std::fabs(pixels) > kLargestEdge)
        return 0;
    return static_cast<int>(pixels);
}

QString pixelsToStoredEdge(int pixels) {
    return QString::number(pixels * kTwipsPerPixel);
}

void restoreWindowPosition(QWidget& window) {
    window.move(window.x(), storedEdgeToPixels(readEdge(kFormTop)));
    window.move(storedEdgeToPixels(readEdge(kFormLeft)), window.y());
}

void saveWindowPosition(const QWidget& window) {
    app::SaveSetting(app::kAppName, app::kSection, kFormLeft, pixelsToStoredEdge(window.x()));
    app::SaveSetting(app::kAppName, app::kSection, kFormTop, pixelsToStoredEdge(window.y()));
}

} // namespace ui
