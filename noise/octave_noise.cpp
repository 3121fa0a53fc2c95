#include "noise/octave_noise.h"

#include <cmath>

namespace velmora {

void OctaveNoise::Reset() noexcept {
    persistence = 0.25f;
    octaves = 4;
    frequency = 0.015f;
    amplitude = 1.0f;
    varyFrequency = 0;
    varyAmplitude = 0;
}

double OctaveNoise::LatticeValue(std::int32_t x, std::int32_t y) const noexcept {
    return LatticeHashOfSum(LatticeSum(x, y));
}

float OctaveNoise::SmoothedValue(float x, float y) const noexcept {
    const std::int32_t xm = LatticeIndex(static_cast<double>(x) - 1.0);
    const std::int32_t xc = LatticeIndex(x);
    const std::int32_t xp = LatticeIndex(static_cast<double>(x) + 1.0);
    const std::int32_t ym = LatticeIndex(static_cast<double>(y) - 1.0);
    const std::int32_t yc = LatticeIndex(y);
    const std::int32_t yp = LatticeIndex(static_cast<double>(y) + 1.0);

    return SmoothLatticeValues(LatticeValue(xp, yp), LatticeValue(xm, yp), LatticeValue(xp, ym),
                               LatticeValue(xm, ym), LatticeValue(xp, yc), LatticeValue(xm, yc),
                               LatticeValue(xc, yp), LatticeValue(xc, ym), LatticeValue(xc, yc));
}

double OctaveNoise::Blend(float a, float b, float t) const noexcept {
    const double u = 1.0 - static_cast<double>(t);
    const double w1 = BlendWeight(u, static_cast<float>(u));
    const double w2 = BlendWeight(t, t);
    return a * w1 + b * w2;
}

double OctaveNoise::InterpolatedValue(float x, float y) const noexcept {
    const std::int32_t ix = LatticeIndex(x);
    const float fx = static_cast<float>(static_cast<double>(x) - ix);
    const std::int32_t iy = LatticeIndex(y);
    const float fy = static_cast<float>(static_cast<double>(y) - iy);
    const std::int32_t ix1 = NextLatticeIndex(ix);
    const std::int32_t iy1 = NextLatticeIndex(iy);

    const float v1 = SmoothedValue(static_cast<float>(ix), static_cast<float>(iy));
    const float v2 = SmoothedValue(static_cast<float>(ix1), static_cast<float>(iy));
    const float v3 = SmoothedValue(static_cast<float>(ix), static_cast<float>(iy1));
    const float v4 = SmoothedValue(static_cast<float>(ix1), static_cast<float>(iy1));

    const float top = static_cast<float>(Blend(v1, v2, fx));
    const float bottom = static_cast<float>(Blend(v3, v4, fx));
    return Blend(top, bottom, fy);
}

float OctaveNoise::Sample(float x, float y) const noexcept {
    float f = frequency;
    float a = amplitude;
    float sum = 0.0f;
    for (std::int32_t i = 0; i < octaves; ++i) {
        if (varyFrequency != 0) {
            f = static_cast<float>(static_cast<double>(f) + f);
        }
        if (varyAmplitude != 0) {
            a = static_cast<float>(static_cast<double>(a) * persistence);
        }
        const float fx = static_cast<float>(static_cast<double>(f) * x);
        const float fy = static_cast<float>(static_cast<double>(f) * y);
        sum = static_cast<float>(sum + InterpolatedValue(fx, fy) * a);
    }
    return sum;
}

}  // namespace velmora
