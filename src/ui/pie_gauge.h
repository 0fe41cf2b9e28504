// The session's progress as a pie: the share done of a transfer whose size is the maximum.
#pragma once

#include <QWidget>

#include <cstdint>

namespace tzn {

class TPieGauge : public QWidget {
public:
    explicit TPieGauge(QWidget* parent = nullptr);

    void SetMaximum(int64_t maximum);
    void SetPosition(int64_t position);
    int64_t Maximum() const { return FMaximum; }
    int64_t Position() const { return FPosition; }
    // Whole percent done, 0 when the maximum is not positive.
    int Percent() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int64_t FMaximum = 100;
    int64_t FPosition = 0;
};

} // namespace tzn
