#include "device/SBCBitAllocation.h"

#include <algorithm>

namespace {

constexpr int kMaxBitsPerSubband = 16;
constexpr int kMaxEntries = SbcCommonContext::kMaxChannels * SbcCommonContext::kMaxSubbands;

// Loudness weighting per sample-rate index and subband: low subbands get more bits, the top ones fewer.
constexpr int kLoudnessOffset4[4][4] = { { -1, 0, 0, 0 }, { -2, 0, 0, 1 }, { -2, 0, 0, 1 }, { -2, 0, 0, 1 } };
constexpr int kLoudnessOffset8[4][8] = {
    { -2, 0, 0, 0, 0, 0, 0, 1 },
    { -3, 0, 0, 0, 0, 0, 1, 2 },
    { -4, 0, 0, 0, 0, 0, 1, 2 },
    { -4, 0, 0, 0, 0, 0, 1, 2 },
};

int bitNeed(const SbcCommonContext& frame, int channel, int subband)
{
    const int scaleFactor = frame.scale_factor[channel][subband];
    if (frame.allocation_method == SbcCommonContext::Snr)
        return scaleFactor;
    if (scaleFactor == 0)
        return -5;
    const int rate = frame.sample_rate_index;
    const int loudness = scaleFactor
        - (frame.subbands == 4 ? kLoudnessOffset4[rate][subband] : kLoudnessOffset8[rate][subband]);
    return loudness > 0 ? loudness / 2 : loudness;
}

// One allocation over `count` entries, given in the order in which left-over bits are handed out.
// Each entry can take at most 16 bits in all, so with bitpool <= 16 x count the slicing loop ends
// by the time the slice has passed 16 below the smallest need.
void allocateEntries(const int* need, int count, int bitpool, int* bits)
{
    Q_ASSERT(bitpool <= kMaxBitsPerSubband * count);
    const int maxNeed = *std::max_element(need, need + count);
    int bitCount = 0;
    int sliceCount = 0;
    int bitSlice = maxNeed + 1;
    do {
        --bitSlice;
        bitCount += sliceCount;
        sliceCount = 0;
        for (int e = 0; e < count; ++e) {
            if (need[e] > bitSlice + 1 && need[e] < bitSlice + kMaxBitsPerSubband)
                ++sliceCount;
            else if (need[e] == bitSlice + 1)
                sliceCount += 2;
        }
    } while (bitCount + sliceCount < bitpool);
    if (bitCount + sliceCount == bitpool) {
        bitCount += sliceCount;
        --bitSlice;
    }

    for (int e = 0; e < count; ++e)
        bits[e] = need[e] < bitSlice + 2 ? 0 : std::min(need[e] - bitSlice, kMaxBitsPerSubband);

    for (int e = 0; bitCount < bitpool && e < count; ++e) {
        if (bits[e] >= 2 && bits[e] < kMaxBitsPerSubband) {
            ++bits[e];
            ++bitCount;
        } else if (need[e] == bitSlice + 1 && bitpool > bitCount + 1) {
            bits[e] = 2;
            bitCount += 2;
        }
    }
    for (int e = 0; bitCount < bitpool && e < count; ++e) {
        if (bits[e] < kMaxBitsPerSubband) {
            ++bits[e];
            ++bitCount;
        }
    }
}

} // namespace

void SBCBitAllocation::allocate(SbcCommonContext& frame)
{
    const int subbands = frame.subbands;
    int need[kMaxEntries] = {};
    int bits[kMaxEntries] = {};
    if (frame.channel_mode == SbcCommonContext::Stereo
        || frame.channel_mode == SbcCommonContext::JointStereo) {
        // Both channels share the bitpool; left-overs go round subband by subband, left before right.
        for (int sb = 0; sb < subbands; ++sb)
            for (int ch = 0; ch < 2; ++ch)
                need[2 * sb + ch] = bitNeed(frame, ch, sb);
        allocateEntries(need, 2 * subbands, frame.bitpool, bits);
        for (int sb = 0; sb < subbands; ++sb)
            for (int ch = 0; ch < 2; ++ch)
                frame.bits[ch][sb] = static_cast<qint8>(bits[2 * sb + ch]);
    } else {
        for (int ch = 0; ch < frame.channels(); ++ch) {
            for (int sb = 0; sb < subbands; ++sb)
                need[sb] = bitNeed(frame, ch, sb);
            allocateEntries(need, subbands, frame.bitpool, bits);
            for (int sb = 0; sb < subbands; ++sb)
                frame.bits[ch][sb] = static_cast<qint8>(bits[sb]);
        }
    }
    for (int ch = 0; ch < frame.channels(); ++ch)
        for (int sb = 0; sb < subbands; ++sb)
            frame.mem[ch][sb] = (1 << frame.bits[ch][sb]) - 1;
}
