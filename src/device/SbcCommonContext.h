#pragma once

#include <QtGlobal>

// Header and bit allocation of one SBC or mSBC frame.
struct SbcCommonContext {
    static constexpr int kMaxChannels = 2;
    static constexpr int kMaxSubbands = 8;

    enum ChannelMode : qint8 { Mono = 0, DualChannel = 1, Stereo = 2, JointStereo = 3 };
    enum AllocationMethod : qint8 { Loudness = 0, Snr = 1 };

    qint8 blocks = 0; // 4, 8, 12 or 16; 15 for mSBC
    qint8 subbands = 0; // 4 or 8
    quint8 join = 0; // joint-stereo flags, bit k for subband k
    quint8 bitpool = 0;
    qint8 channel_mode = Mono;
    qint8 sample_rate_index = 0; // 16000, 32000, 44100, 48000
    qint8 allocation_method = Loudness;
    qint8 reserved8 = 0; // not used; keeps the fields before the tables free of padding
    qint8 bits[kMaxChannels][kMaxSubbands] = {}; // allocated bits per channel and subband
    qint8 scale_factor[kMaxChannels][kMaxSubbands] = {}; // 4 bits each in the frame
    qint32 mem[kMaxChannels][kMaxSubbands] = {}; // levels, 2^bits - 1

    int channels() const { return channel_mode == Mono ? 1 : 2; }
};
