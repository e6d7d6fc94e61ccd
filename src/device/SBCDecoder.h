#pragma once

#include "device/SbcDecoderContext.h"

#include <QByteArray>

// Decodes the mouse's microphone audio: mSBC frames (sync byte AD; 16 kHz mono, 15 blocks,
// 8 subbands, bitpool 26, loudness allocation) and ordinary SBC frames (sync byte 9C), one frame at
// a time, into 16-bit PCM. The synthesis history carries over from frame to frame, so one decoder
// must see one stream's frames in order. No lock: the device links call it on the main thread.
//
// Every header field and the frame length are checked against the bytes given before anything is
// read or changed; a rejected frame leaves the output and the decoder's state as they were. The
// frame's CRC byte is not verified. Output saturates at the 16-bit limits.
class SBCDecoder {
public:
    enum class Status {
        Decoded,
        TooShort, // fewer bytes than the header, or than the frame the header describes
        BadSync, // first byte neither 9C nor AD
        BadBitpool, // below 2, or above 16 bits per subband and channel
        NoRoom, // the output buffer cannot take the frame's samples
    };

    // Most samples one frame can carry: 16 blocks x 8 subbands x 2 channels.
    static constexpr qsizetype kMaxSamples = 256;

    // The decoder both device links share.
    static SBCDecoder& shareInstance();

    SBCDecoder();
    SBCDecoder(const SBCDecoder&) = delete;
    SBCDecoder& operator=(const SBCDecoder&) = delete;

    // Starts clean: forgets the last frame and empties the synthesis history.
    void initializeSBCDecoder();

    // Decodes one frame; on success the bytes hold blocks x subbands x channels 16-bit little-endian
    // samples (two channels interleaved, left first), 240 bytes for an mSBC frame. Empty when the
    // frame is rejected. Bytes after the frame (the padding of a 58-byte slot) are ignored.
    QByteArray decodeFrame(const QByteArray& frame);

    // The same into a caller's buffer of `capacity` samples, without allocating. `samples` is set
    // to the number written, 0 when the frame is rejected.
    Status decodeFrame(
        const uchar* data, qsizetype size, qint16* pcm, qsizetype capacity, qsizetype& samples);

    const SbcDecoderContext& sbcContext() const { return sbcContext_; }

private:
    SbcDecoderContext sbcContext_;
};
