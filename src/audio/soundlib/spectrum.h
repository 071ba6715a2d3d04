#pragma once
// 512-point spectrum of the most recent samples: Hann window, real FFT (libavutil av_tx),
// 256 magnitudes scaled so that a full-scale sine centred on a bin reads about 0.5.
// Thread rules: one thread at a time per object.

#include <memory>

extern "C" {
#include <libavutil/tx.h>
}

namespace miravox::soundlib {

class Spectrum {
  public:
    static constexpr int kSize = 512;
    static constexpr int kBins = 256;

    Spectrum();
    ~Spectrum();
    Spectrum(const Spectrum&) = delete;
    Spectrum& operator=(const Spectrum&) = delete;

    // `samples`: kSize mono samples, oldest first. Writes kBins magnitudes. False if the
    // transform could not be set up.
    bool compute(const float* samples, float* magnitudes);

  private:
    AVTXContext* tx_ = nullptr;
    av_tx_fn fn_ = nullptr;
    float* in_ = nullptr; // av_malloc'd: the transform wants aligned buffers
    AVComplexFloat* out_ = nullptr;
    float window_[kSize];
};

} // namespace miravox::soundlib
