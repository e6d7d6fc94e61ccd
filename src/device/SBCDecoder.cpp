#include "device/SBCDecoder.h"

#include "device/SBCBitAllocation.h"
#include "device/SBCSynthesis.h"

#include <QtEndian>

#include <cstring>

namespace {

constexpr uchar kSyncSbc = 0x9C;
constexpr uchar kSyncMsbc = 0xAD;
constexpr int kMsbcBlocks = 15;
constexpr int kMsbcSubbands = 8;
constexpr int kMsbcBitpool = 26;
constexpr int kMinBitpool = 2;
constexpr int kDecoderMaxBitsPerSubband = 16;
constexpr int kHeaderBytes = 4;
constexpr quint16 kSampleRates[4] = { 16000, 32000, 44100, 48000 };

static_assert(SbcDecoderContext::kHistory == SBCSynthesis::kHistory);

constexpr bool sharesBitpool(int channelMode)
{
    return channelMode == SbcCommonContext::Stereo || channelMode == SbcCommonContext::JointStereo;
}

// Bytes a frame with this header occupies: header and CRC, scale factors, then the join flags and
// the samples, rounded up to whole bytes.
constexpr int frameLength(int channelMode, int blocks, int subbands, int bitpool)
{
    const int channels = channelMode == SbcCommonContext::Mono ? 1 : 2;
    int bits = blocks * bitpool;
    if (!sharesBitpool(channelMode))
        bits *= channels;
    else if (channelMode == SbcCommonContext::JointStereo)
        bits += subbands;
    return kHeaderBytes + (4 * subbands * channels) / 8 + (bits + 7) / 8;
}

// The longest frame: dual channel, 16 blocks, 8 subbands, bitpool 128.
constexpr int kMaxFrameLength = 524;
static_assert(frameLength(SbcCommonContext::DualChannel, 16, 8, 128) == kMaxFrameLength);
static_assert(frameLength(SbcCommonContext::JointStereo, 16, 8, 255) < kMaxFrameLength);

// Reads 1 to 16 bits at a time, most significant first. Each read loads eight bytes at the current
// byte, so the buffer must reach eight bytes past the last bit read.
class BitReader {
public:
    explicit BitReader(const uchar* bytes, int position)
        : bytes_(bytes)
        , position_(position)
    {
    }
    quint32 read(int count)
    {
        const quint64 word = qFromBigEndian<quint64>(bytes_ + (position_ >> 3)) << (position_ & 7);
        position_ += count;
        return static_cast<quint32>(word >> (64 - count));
    }
    int position() const { return position_; }

private:
    const uchar* bytes_;
    int position_;
};

// Reads and checks the header against the bytes given.
SBCDecoder::Status readHeader(const uchar* data, qsizetype size, SbcCommonContext& frame)
{
    if (size < 1)
        return SBCDecoder::Status::TooShort;
    const uchar sync = data[0];
    if (sync != kSyncSbc && sync != kSyncMsbc)
        return SBCDecoder::Status::BadSync;
    if (size < kHeaderBytes)
        return SBCDecoder::Status::TooShort;
    if (sync == kSyncMsbc && data[1] == 0 && data[2] == 0) {
        frame.blocks = kMsbcBlocks;
        frame.subbands = kMsbcSubbands;
        frame.bitpool = kMsbcBitpool;
        frame.channel_mode = SbcCommonContext::Mono;
        frame.allocation_method = SbcCommonContext::Loudness;
        frame.sample_rate_index = 0;
    } else {
        // An AD frame with a filled-in header is read like SBC but keeps mSBC's 15 blocks.
        frame.sample_rate_index = static_cast<qint8>(data[1] >> 6);
        frame.blocks = sync == kSyncMsbc ? kMsbcBlocks : static_cast<qint8>(4 * (((data[1] >> 4) & 3) + 1));
        frame.channel_mode = static_cast<qint8>((data[1] >> 2) & 3);
        frame.allocation_method = static_cast<qint8>((data[1] >> 1) & 1);
        frame.subbands = (data[1] & 1) ? 8 : 4;
        frame.bitpool = data[2];
    }
    const int maxBitpool = kDecoderMaxBitsPerSubband * frame.subbands * (sharesBitpool(frame.channel_mode) ? 2 : 1);
    if (frame.bitpool < kMinBitpool || frame.bitpool > maxBitpool)
        return SBCDecoder::Status::BadBitpool;
    if (size < frameLength(frame.channel_mode, frame.blocks, frame.subbands, frame.bitpool))
        return SBCDecoder::Status::TooShort;
    return SBCDecoder::Status::Decoded;
}

} // namespace

SBCDecoder& SBCDecoder::shareInstance()
{
    static SBCDecoder* shared = new SBCDecoder();
    return *shared;
}

SBCDecoder::SBCDecoder()
{
    initializeSBCDecoder();
}

void SBCDecoder::initializeSBCDecoder()
{
    sbcContext_ = SbcDecoderContext();
}

QByteArray SBCDecoder::decodeFrame(const QByteArray& frame)
{
    qint16 pcm[kMaxSamples];
    qsizetype samples = 0;
    if (decodeFrame(
            reinterpret_cast<const uchar*>(frame.constData()), frame.size(), pcm, kMaxSamples, samples)
        != Status::Decoded)
        return {};
    QByteArray bytes(samples * qsizetype(sizeof(qint16)), Qt::Uninitialized);
    qToLittleEndian<qint16>(pcm, samples, bytes.data());
    return bytes;
}

SBCDecoder::Status SBCDecoder::decodeFrame(
    const uchar* data, qsizetype size, qint16* pcm, qsizetype capacity, qsizetype& samples)
{
    samples = 0;
    SbcCommonContext frame;
    const Status header = readHeader(data, size, frame);
    if (header != Status::Decoded)
        return header;
    const int channels = frame.channels();
    const int subbands = frame.subbands;
    const int blocks = frame.blocks;
    const int perChannel = blocks * subbands;
    if (capacity < perChannel * channels)
        return Status::NoRoom;

    // Work on a copy with eight spare zero bytes, so the word-wise bit reader stays inside it.
    const int length = frameLength(frame.channel_mode, blocks, subbands, frame.bitpool);
    uchar bytes[kMaxFrameLength + 8];
    std::memcpy(bytes, data, length);
    std::memset(bytes + length, 0, 8);

    BitReader reader(bytes, 8 * kHeaderBytes);
    if (frame.channel_mode == SbcCommonContext::JointStereo) {
        // One flag per subband, subband 0 first; the last subband never joins.
        const quint32 flags = reader.read(subbands);
        for (int sb = 0; sb < subbands - 1; ++sb)
            if (flags & (1u << (subbands - 1 - sb)))
                frame.join |= static_cast<quint8>(1u << sb);
    }
    for (int ch = 0; ch < channels; ++ch)
        for (int sb = 0; sb < subbands; ++sb)
            frame.scale_factor[ch][sb] = static_cast<qint8>(reader.read(4));
    SBCBitAllocation::allocate(frame);

    // The allocation never exceeds the bitpool, so the samples fit the frame length checked above;
    // this keeps the reader inside the copy even if a header slipped past that reasoning.
    int bitsPerBlock = 0;
    for (int ch = 0; ch < channels; ++ch)
        for (int sb = 0; sb < subbands; ++sb)
            bitsPerBlock += frame.bits[ch][sb];
    if (reader.position() + blocks * bitsPerBlock > 8 * length)
        return Status::TooShort;

    // Dequantise: sample = 2^(scale factor + 1) x ((2 x raw + 1) / levels - 1).
    float step[SbcCommonContext::kMaxChannels][SbcCommonContext::kMaxSubbands] = {};
    for (int ch = 0; ch < channels; ++ch)
        for (int sb = 0; sb < subbands; ++sb)
            if (frame.bits[ch][sb] > 0)
                step[ch][sb] = static_cast<float>(2 << frame.scale_factor[ch][sb])
                    / static_cast<float>(frame.mem[ch][sb]);
    SbcDecoderContext& context = sbcContext_;
    for (int blk = 0; blk < blocks; ++blk) {
        for (int ch = 0; ch < channels; ++ch) {
            float* out = context.pcm_sample[ch] + blk * subbands;
            for (int sb = 0; sb < subbands; ++sb) {
                const int bits = frame.bits[ch][sb];
                if (bits == 0) {
                    out[sb] = 0;
                    continue;
                }
                const int raw = static_cast<int>(reader.read(bits));
                out[sb] = static_cast<float>(2 * raw + 1 - frame.mem[ch][sb]) * step[ch][sb];
            }
        }
    }
    if (frame.join) {
        for (int sb = 0; sb < subbands; ++sb) {
            if (!(frame.join & (1u << sb)))
                continue;
            for (int blk = 0; blk < blocks; ++blk) {
                float& left = context.pcm_sample[0][blk * subbands + sb];
                float& right = context.pcm_sample[1][blk * subbands + sb];
                const float sum = left + right;
                right = left - right;
                left = sum;
            }
        }
    }

    const SBCSynthesis& synthesis = SBCSynthesis::shared();
    for (int blk = 0; blk < blocks; ++blk) {
        for (int ch = 0; ch < channels; ++ch) {
            const float* in = context.pcm_sample[ch] + blk * subbands;
            qint16* out = pcm + blk * subbands * channels + ch;
            if (subbands == 8)
                synthesis.synthesize8(context.vfifo[ch], context.offset[ch], in, out, channels);
            else
                synthesis.synthesize4(context.vfifo[ch], context.offset[ch], in, out, channels);
        }
    }

    context.frame = frame;
    context.num_channels = static_cast<qint8>(channels);
    context.pcm_length = static_cast<quint8>(perChannel);
    context.sample_rate = kSampleRates[frame.sample_rate_index];
    samples = perChannel * channels;
    return Status::Decoded;
}
