#pragma once

#include "device/SbcCommonContext.h"

// Everything an SBC decoder carries from one frame to the next. The synthesis history must see the
// frames of a stream in order, so one context belongs to one stream.
struct SbcDecoderContext {
    static constexpr int kMaxBlocks = 16;
    // Ten matrixing vectors of history; each is stored twice (slots p and p + 10) so that the ten
    // newest can be read as one run starting at the newest, without wrapping.
    static constexpr int kHistory = 10;

    SbcCommonContext frame; // the last frame decoded
    qint8 num_channels = 0; // 1 or 2
    quint8 pcm_length = 0; // samples per channel of the last frame: blocks x subbands
    quint16 sample_rate = 0; // 16000, 32000, 44100 or 48000
    // Dequantised subband samples of the last frame, block after block, in 16-bit PCM units.
    float pcm_sample[SbcCommonContext::kMaxChannels][kMaxBlocks * SbcCommonContext::kMaxSubbands] = {};
    // Synthesis history per channel: matrixing vectors of 2 x subbands values.
    float vfifo[SbcCommonContext::kMaxChannels][2 * kHistory][2 * SbcCommonContext::kMaxSubbands] = {};
    // Slot of the newest vector in vfifo, per channel (0 to 9).
    qint32 offset[SbcCommonContext::kMaxChannels] = {};
};
