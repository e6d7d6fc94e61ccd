#pragma once

#include <QtGlobal>

// The SBC synthesis filter bank: turns one block of subband samples of one channel back into PCM.
// The cosine matrices and windows are precomputed once, in single-precision floating point; the
// history lives in the caller's decoder context so that it carries over from frame to frame.
class SBCSynthesis {
public:
    static constexpr int kHistory = 10;
    using History = float[2 * kHistory][16];

    static const SBCSynthesis& shared();

    // Synthesises one block of 8 (or 4) subband samples into as many PCM samples, written `stride`
    // samples apart, rounded and saturated to 16 bits. `newest` is the history slot of the newest
    // matrixing vector (0 to 9); it moves on by one.
    void synthesize8(History& history, qint32& newest, const float* samples, qint16* pcm, int stride) const;
    void synthesize4(History& history, qint32& newest, const float* samples, qint16* pcm, int stride) const;

private:
    SBCSynthesis();

    float matrix8_[8][16]; // [subband][row]: cos((subband + 0.5)(row + 4) pi / 8)
    float window8_[80];
    float matrix4_[4][8]; // [subband][row]: cos((subband + 0.5)(row + 2) pi / 4)
    float window4_[40];
};
