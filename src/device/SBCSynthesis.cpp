#include "device/SBCSynthesis.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace {

// Prototype filters of the SBC filter bank, with the sign of every other block of 2M taps folded in.
constexpr double kProto4[40] = { 0.00000000E+00, 5.36548976E-04, 1.49188357E-03, 2.73370904E-03,
    3.83720193E-03, 3.89205149E-03, 1.86581691E-03, -3.06012286E-03, 1.09137620E-02, 2.04385087E-02,
    2.88757392E-02, 3.21939290E-02, 2.58767811E-02, 6.13245186E-03, -2.88217274E-02, -7.76463494E-02,
    1.35593274E-01, 1.94987841E-01, 2.46636662E-01, 2.81828203E-01, 2.94315332E-01, 2.81828203E-01,
    2.46636662E-01, 1.94987841E-01, -1.35593274E-01, -7.76463494E-02, -2.88217274E-02, 6.13245186E-03,
    2.58767811E-02, 3.21939290E-02, 2.88757392E-02, 2.04385087E-02, -1.09137620E-02, -3.06012286E-03,
    1.86581691E-03, 3.89205149E-03, 3.83720193E-03, 2.73370904E-03, 1.49188357E-03, 5.36548976E-04 };

constexpr double kProto8[80] = { 0.00000000E+00, 1.56575398E-04, 3.43256425E-04, 5.54620202E-04,
    8.23919506E-04, 1.13992507E-03, 1.47640169E-03, 1.78371725E-03, 2.01182542E-03, 2.10371989E-03,
    1.99454554E-03, 1.61656283E-03, 9.02154502E-04, -1.78805361E-04, -1.64973098E-03, -3.49717454E-03,
    5.65949473E-03, 8.02941163E-03, 1.04584443E-02, 1.27472335E-02, 1.46525263E-02, 1.59045603E-02,
    1.62208471E-02, 1.53184106E-02, 1.29371806E-02, 8.85757540E-03, 2.92408442E-03, -4.91578024E-03,
    -1.46404076E-02, -2.61098752E-02, -3.90751381E-02, -5.31873032E-02, 6.79989431E-02, 8.29847578E-02,
    9.75753918E-02, 1.11196689E-01, 1.23264548E-01, 1.33264415E-01, 1.40753505E-01, 1.45389847E-01,
    1.46955068E-01, 1.45389847E-01, 1.40753505E-01, 1.33264415E-01, 1.23264548E-01, 1.11196689E-01,
    9.75753918E-02, 8.29847578E-02, -6.79989431E-02, -5.31873032E-02, -3.90751381E-02, -2.61098752E-02,
    -1.46404076E-02, -4.91578024E-03, 2.92408442E-03, 8.85757540E-03, 1.29371806E-02, 1.53184106E-02,
    1.62208471E-02, 1.59045603E-02, 1.46525263E-02, 1.27472335E-02, 1.04584443E-02, 8.02941163E-03,
    -5.65949473E-03, -3.49717454E-03, -1.64973098E-03, -1.78805361E-04, 9.02154502E-04, 1.61656283E-03,
    1.99454554E-03, 2.10371989E-03, 2.01182542E-03, 1.78371725E-03, 1.47640169E-03, 1.13992507E-03,
    8.23919506E-04, 5.54620202E-04, 3.43256425E-04, 1.56575398E-04 };

// Four floats in one register. The vector extension of GCC and Clang keeps the filter bank's inner
// loops in SIMD registers on every target; loads and stores go through memcpy, so no alignment or
// aliasing is assumed of the tables and the history.
using Float4 = float __attribute__((vector_size(16)));
using Int4 = qint32 __attribute__((vector_size(16)));

inline Float4 load(const float* from)
{
    Float4 v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

inline void store(float* to, Float4 v)
{
    std::memcpy(to, &v, sizeof v);
}

// Rounds to the nearest integer, halves away from zero, saturating at the 16-bit limits.
inline void toPcm(Float4 value, qint16* pcm, int stride)
{
    const Float4 low = { -32768.0f, -32768.0f, -32768.0f, -32768.0f };
    const Float4 high = { 32767.0f, 32767.0f, 32767.0f, 32767.0f };
    const Float4 half = { 0.5f, 0.5f, 0.5f, 0.5f };
    Float4 clamped = value < low ? low : value;
    clamped = clamped > high ? high : clamped;
    const Int4 rounded = __builtin_convertvector(clamped + (clamped < 0 ? -half : half), Int4);
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j)
        pcm[j * stride] = static_cast<qint16>(rounded[j]);
}

} // namespace

const SBCSynthesis& SBCSynthesis::shared()
{
    static const SBCSynthesis synthesis;
    return synthesis;
}

SBCSynthesis::SBCSynthesis()
{
    constexpr double pi = std::numbers::pi;
    for (int sb = 0; sb < 8; ++sb)
        for (int row = 0; row < 16; ++row)
            matrix8_[sb][row] = static_cast<float>(std::cos((sb + 0.5) * (row + 4) * pi / 8));
    for (int sb = 0; sb < 4; ++sb)
        for (int row = 0; row < 8; ++row)
            matrix4_[sb][row] = static_cast<float>(std::cos((sb + 0.5) * (row + 2) * pi / 4));
    // The synthesis window is the prototype scaled by minus the number of subbands, which restores
    // the gain and the sign that the analysis filters and the matrixing took away.
    for (int i = 0; i < 80; ++i)
        window8_[i] = static_cast<float>(-8 * kProto8[i]);
    for (int i = 0; i < 40; ++i)
        window4_[i] = static_cast<float>(-4 * kProto4[i]);
}

void SBCSynthesis::synthesize8(
    History& history, qint32& newest, const float* samples, qint16* pcm, int stride) const
{
    const qint32 slot = newest == 0 ? kHistory - 1 : newest - 1;
    newest = slot;

    Float4 v[4] = {};
#pragma GCC unroll 8
    for (int sb = 0; sb < 8; ++sb)
#pragma GCC unroll 4
        for (int q = 0; q < 4; ++q)
            v[q] += samples[sb] * load(matrix8_[sb] + 4 * q);
#pragma GCC unroll 4
    for (int q = 0; q < 4; ++q) {
        store(history[slot] + 4 * q, v[q]);
        store(history[slot + kHistory] + 4 * q, v[q]);
    }

    // Output j sums the first half of the vectors of even age and the second half of those of odd
    // age, each weighted by its run of the window.
    Float4 out[2] = {};
#pragma GCC unroll 5
    for (int i = 0; i < 5; ++i) {
        const float* even = history[slot + 2 * i];
        const float* odd = history[slot + 2 * i + 1] + 8;
        const float* window = window8_ + 16 * i;
#pragma GCC unroll 2
        for (int q = 0; q < 2; ++q)
            out[q]
                += load(even + 4 * q) * load(window + 4 * q) + load(odd + 4 * q) * load(window + 8 + 4 * q);
    }
    toPcm(out[0], pcm, stride);
    toPcm(out[1], pcm + 4 * stride, stride);
}

void SBCSynthesis::synthesize4(
    History& history, qint32& newest, const float* samples, qint16* pcm, int stride) const
{
    const qint32 slot = newest == 0 ? kHistory - 1 : newest - 1;
    newest = slot;

    Float4 v[2] = {};
#pragma GCC unroll 4
    for (int sb = 0; sb < 4; ++sb)
#pragma GCC unroll 2
        for (int q = 0; q < 2; ++q)
            v[q] += samples[sb] * load(matrix4_[sb] + 4 * q);
#pragma GCC unroll 2
    for (int q = 0; q < 2; ++q) {
        store(history[slot] + 4 * q, v[q]);
        store(history[slot + kHistory] + 4 * q, v[q]);
    }

    Float4 out = {};
#pragma GCC unroll 5
    for (int i = 0; i < 5; ++i) {
        const float* even = history[slot + 2 * i];
        const float* odd = history[slot + 2 * i + 1] + 4;
        const float* window = window4_ + 8 * i;
        out += load(even) * load(window) + load(odd) * load(window + 4);
    }
    toPcm(out, pcm, stride);
}
