// A band lamp: a circle centred in its box with a thin outline and a green fill that shows
// only while the fill style is solid.
#pragma once

#include <QColor>
#include <QWidget>

namespace ui {

class Lamp : public QWidget {
    Q_OBJECT
public:
    enum FillStyle { Solid = 0, Transparent = 1 };

    explicit Lamp(QWidget* parent = nullptr);

    void setFillStyle(FillStyle style);
    bool lit() const { return fillStyle_ == Solid; }

    static constexpr QColor kFillColor{0x00, 0xFF, 0x00};

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    FillStyle fillStyle_ = Transparent;
};

} // namespace ui
