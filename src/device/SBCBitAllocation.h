#pragma once

#include "device/SbcCommonContext.h"

// Shares a frame's bitpool among its subbands from their scale factors, by the loudness or the SNR
// rule of SBC. Mono and dual-channel frames spend the bitpool once per channel, stereo and joint
// stereo frames once for both channels together.
class SBCBitAllocation {
public:
    // Fills frame.bits and frame.mem (levels, 2^bits - 1) from the header fields and scale factors.
    // Never hands out more than the bitpool: at most bitpool bits per block and channel for mono
    // and dual channel, at most bitpool bits per block for stereo and joint stereo. Expects a
    // bitpool that the header checks accepted (at most 16 bits per subband and channel).
    static void allocate(SbcCommonContext& frame);
};
