// The meters and the gauge repaint up to ten times a second for days, the slider at every
// pointer move: their paint must not allocate once its cached layers exist. Qt's own paint machinery
// allocates a little per paint, so each control is compared with a reference widget that only copies a
// pixmap.

#include "cool_gauge.h"
#include "rled.h"
#include "widget_testing.h"
#include "xi_track_bar.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QPixmap>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

} // namespace

void* operator new(std::size_t size) {
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace miravox::testing;

// Paints what a cached control paints at the least: one pixmap copy.
class Reference : public QWidget {
  public:
    Reference() {
        setAttribute(Qt::WA_OpaquePaintEvent);
        layer_ = QPixmap(302, 23);
        layer_.fill(Qt::darkGreen);
        resize(302, 23);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawPixmap(0, 0, layer_);
    }

  private:
    QPixmap layer_;
};

// Allocations made by `paints` repaints of `widget`, after a warm-up.
template <typename Step> long allocations_per_paint(QWidget& widget, Step step) {
    show_settled(widget);
    for (int i = 0; i < 20; ++i)
        step(i);
    constexpr int paints = 50;
    allocations = 0;
    counting = true;
    for (int i = 0; i < paints; ++i)
        step(i);
    counting = false;
    return allocations.load() / paints;
}

} // namespace

TEST(PaintAllocations, ControlsAllocateNoMoreThanAPixmapCopy) {
    Reference reference;
    const long baseline = allocations_per_paint(reference, [&](int) { reference.repaint(); });

    TRLed meter;
    meter.setOrientation(trHorizontal);
    meter.resize(302, 23);
    meter.setBarSize(3);
    const long meter_cost = allocations_per_paint(meter, [&](int i) { meter.setPosition(i % 100); });
    EXPECT_LE(meter_cost, baseline) << "meter allocates while painting";

    TCoolGauge gauge;
    gauge.resize(302, 18);
    gauge.setMaxValue(1000);
    gauge.setProgress(500);
    const long gauge_cost = allocations_per_paint(gauge, [&](int) { gauge.repaint(); });
    EXPECT_LE(gauge_cost, baseline) << "gauge allocates while painting";

    TXiTrackBar slider;
    slider.setMax(100);
    const long slider_cost = allocations_per_paint(slider, [&](int i) { slider.setPosition(i % 100); });
    EXPECT_LE(slider_cost, baseline) << "slider allocates while painting";
    std::printf("allocations per paint: reference %ld, meter %ld, gauge %ld, slider %ld\n", baseline,
                meter_cost, gauge_cost, slider_cost);
}
