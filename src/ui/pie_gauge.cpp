#include "ui/pie_gauge.h"

#include <QPainter>

#include <algorithm>

namespace tzn {

TPieGauge::TPieGauge(QWidget* parent) : QWidget(parent) {
    setMinimumSize(60, 60);
}

void TPieGauge::SetMaximum(int64_t maximum) {
    FMaximum = maximum;
    update();
}

void TPieGauge::SetPosition(int64_t position) {
    FPosition = position;
    update();
}

int TPieGauge::Percent() const {
    if (FMaximum <= 0)
        return 0;
    // A server may report more bytes than it announced: the pie stays full then.
    const int64_t done = std::clamp<int64_t>(FPosition, 0, FMaximum);
    return static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(FMaximum));
}

void TPieGauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int side = std::min(width(), height()) - 4;
    const QRectF pie((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    p.setPen(palette().color(QPalette::WindowText));
    p.setBrush(palette().color(QPalette::Base));
    p.drawEllipse(pie);
    const int percent = Percent();
    if (percent > 0) {
        p.setBrush(palette().color(QPalette::Highlight));
        // Qt counts angles in 1/16 degree, counter-clockwise from three o'clock: start at
        // twelve and go clockwise.
        p.drawPie(pie, 90 * 16, -percent * 360 * 16 / 100);
    }
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(rect(), Qt::AlignCenter, QString::number(percent) + QLatin1Char('%'));
}

} // namespace tzn
