#include "spectrum.h"

#include <cmath>
#include <numbers>

extern "C" {
#include <libavutil/mem.h>
}

namespace miravox::soundlib {

Spectrum::Spectrum() {
    for (int i = 0; i < kSize; ++i)
        window_[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / kSize));
    const float scale = 1.0f;
    if (av_tx_init(&tx_, &fn_, AV_TX_FLOAT_RDFT, 0, kSize, &scale, 0) < 0)
        tx_ = nullptr;
    in_ = static_cast<float*>(av_malloc(sizeof(float) * (kSize + 2)));
    out_ = static_cast<AVComplexFloat*>(av_malloc(sizeof(AVComplexFloat) * (kSize / 2 + 1)));
}

Spectrum::~Spectrum() {
    av_tx_uninit(&tx_);
    av_free(in_);
    av_free(out_);
}

bool Spectrum::compute(const float* samples, float* magnitudes) {
    if (!tx_ || !in_ || !out_)
        return false;
    for (int i = 0; i < kSize; ++i)
        in_[i] = samples[i] * window_[i];
    fn_(tx_, out_, in_, sizeof(float));
    // |X| of a sine of amplitude A on a bin is A * N/4 after the Hann window (gain 1/2):
    // 2/N makes full scale read 1/2.
    constexpr float norm = 2.0f / kSize;
    for (int k = 0; k < kBins; ++k)
        magnitudes[k] = std::hypot(out_[k].re, out_[k].im) * norm;
    return true;
}

} // namespace miravox::soundlib
