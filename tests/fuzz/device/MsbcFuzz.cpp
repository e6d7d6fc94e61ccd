// The mouse's audio: SBC and mSBC frames through the decoder, in order, as
// one stream.
//
// Input: a slot size byte (the slot holds that many bytes plus one), then
// the stream cut into pieces of that size; the last slot may be short.

#include "FuzzTarget.h"
#include "device/SBCDecoder.h"

#include <array>
#include <cstring>
#include <vector>

PRAVIK_FUZZ_TARGET(msbc)
{
    if (input.isEmpty())
        return;
    const qsizetype slotSize = static_cast<uchar>(input[0]) + 1;
    std::vector<QByteArray> pieces;
    for (qsizetype at = 1; at < input.size(); at += slotSize)
        pieces.push_back(input.mid(at, slotSize));

    // Three decoders that must agree: one through the array call, one through
    // the buffer call, and one that sees only the frames the others took. A
    // rejected frame must leave the decoder and the caller's buffer as they were.
    SBCDecoder arrays, buffers, accepted;
    constexpr qint16 kUntouched = 0x5A5A;
    for (const QByteArray& slot : pieces) {
        const QByteArray pcm = arrays.decodeFrame(slot);

        std::array<qint16, SBCDecoder::kMaxSamples> buffer;
        buffer.fill(kUntouched);
        qsizetype samples = -1;
        const SBCDecoder::Status status
            = buffers.decodeFrame(reinterpret_cast<const uchar*>(slot.constData()), slot.size(),
                buffer.data(), qsizetype(buffer.size()), samples);

        if (status != SBCDecoder::Status::Decoded) {
            if (samples != 0 || !pcm.isEmpty())
                fuzz::fail("a rejected frame gave samples");
            for (const qint16 sample : buffer) {
                if (sample != kUntouched)
                    fuzz::fail("a rejected frame wrote into the caller's buffer");
            }
            continue;
        }
        if (samples <= 0 || samples > SBCDecoder::kMaxSamples || pcm.size() != samples * 2
            || std::memcmp(pcm.constData(), buffer.data(), size_t(pcm.size())) != 0)
            fuzz::fail("the two calls decoded a frame differently");
        if (accepted.decodeFrame(slot) != pcm)
            fuzz::fail("a rejected frame changed the decoder's state");
    }
}
