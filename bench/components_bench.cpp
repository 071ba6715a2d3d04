// Cost of the display controls' paints: the meters repaint ten times a second, the gauge
// follows the countdown and the local track, the grids repaint on every list change.
// Run offscreen: QT_QPA_PLATFORM=offscreen ./components_bench

#include "cool_gauge.h"
#include "rled.h"
#include "tessel_grid.h"
#include "xi_track_bar.h"

#include <benchmark/benchmark.h>

#include <QApplication>

namespace {

void settle(QWidget& w) {
    w.show();
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

void BM_Meter1Position(benchmark::State& state) {
    TRLed meter;
    meter.setOrientation(trHorizontal);
    meter.resize(302, 23);
    meter.setBarSize(3);
    settle(meter);
    int i = 0;
    for (auto _ : state)
        meter.setPosition(++i % 101); // repaints at once
}
BENCHMARK(BM_Meter1Position);

void BM_VuGeralPosition(benchmark::State& state) {
    TRLed meter;
    meter.resize(26, 122);
    meter.setBarSize(10);
    settle(meter);
    int i = 0;
    for (auto _ : state)
        meter.setPosition(++i % 101);
}
BENCHMARK(BM_VuGeralPosition);

void BM_GaugeProgress(benchmark::State& state) {
    TCoolGauge gauge;
    gauge.resize(302, 18);
    gauge.setMaxValue(240000); // remaining milliseconds of a local track
    settle(gauge);
    int i = 0;
    for (auto _ : state)
        gauge.setProgress(240000 - (++i * 100) % 240000);
}
BENCHMARK(BM_GaugeProgress);

void BM_GaugeRampRebuild(benchmark::State& state) {
    TCoolGauge gauge;
    gauge.resize(302, 18);
    gauge.setProgress(100);
    settle(gauge);
    int i = 0;
    for (auto _ : state)
        gauge.setForeColor1(QColor(0, (++i) % 256, 128)); // new colours: the ramp is rebuilt
}
BENCHMARK(BM_GaugeRampRebuild);

void BM_SliderDragStep(benchmark::State& state) {
    TXiTrackBar slider;
    slider.setOrientation(trVertical);
    slider.resize(30, 150);
    slider.setMax(100);
    settle(slider);
    int i = 0;
    for (auto _ : state)
        slider.setPosition(++i % 101);
}
BENCHMARK(BM_SliderDragStep);

void BM_ScheduleGridRepaint(benchmark::State& state) {
    TtesselGrid grid;
    grid.resize(760, 420);
    grid.setColCount(3);
    grid.setFixedCols(0);
    grid.setDefaultRowHeight(20);
    grid.setColWidths(0, 64);
    grid.setColWidths(1, 71);
    grid.setColWidths(2, 615);
    grid.setRowCount(40);
    for (int r = 1; r < 40; ++r) {
        grid.setCells(0, r, QStringLiteral("19:00"));
        grid.setCells(1, r, QStringLiteral("20:00"));
        grid.setCells(2, r, QStringLiteral("http://stream.example.net:8000/radio"));
    }
    settle(grid);
    for (auto _ : state)
        grid.viewport()->repaint();
}
BENCHMARK(BM_ScheduleGridRepaint);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
