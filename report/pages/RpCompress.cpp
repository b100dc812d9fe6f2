#include "report/pages/RpCompress.h"

#include "report/pages/RpError.h"
#include "report/pages/RpStream.h"

namespace {
constexpr int kRoot = 0;
constexpr int kFirstLeaf = 256;
// Leaf 512 has no byte; only hostile code reaches it.
constexpr int kUnusedLeaf = 512;
constexpr qsizetype kFlushAt = 4096;
} // namespace

TRpCompress::TRpCompress(TRpStream& stream, bool encoding) : stream_(&stream), encoding_(encoding)
{
    for (int i = 1; i <= 512; ++i)
        up_[static_cast<size_t>(i)] = static_cast<uint8_t>((i - 1) / 2);
    for (int j = 0; j < 256; ++j) {
        left_[static_cast<size_t>(j)] = static_cast<uint16_t>(2 * j + 1);
        right_[static_cast<size_t>(j)] = static_cast<uint16_t>(2 * j + 2);
    }
    bitPosition_ = encoding ? 0 : 7;
}

TRpCompress::~TRpCompress()
{
    try {
        Finish();
    } catch (const ERpError&) {
        // A destructor cannot report; callers that care call Finish() themselves.
    }
}

void TRpCompress::Finish()
{
    if (!encoding_ || finished_)
        return;
    finished_ = true;
    if (bitPosition_ != 0) {
        pending_.append(static_cast<char>(outputByte_));
        bitPosition_ = 0;
        outputByte_ = 0;
    }
    flushPending();
}

void TRpCompress::flushPending()
{
    if (pending_.isEmpty())
        return;
    const qint64 written = stream_->Write(pending_.constData(), pending_.size());
    if (written != pending_.size())
        throw ERpError(QStringLiteral("Page compression: could not write %1 code bytes to the page store")
                           .arg(pending_.size()));
    pending_.clear();
}

void TRpCompress::putBit(bool one)
{
    if (one)
        outputByte_ = static_cast<uint8_t>(outputByte_ | (1u << bitPosition_));
    if (bitPosition_ == 7) {
        pending_.append(static_cast<char>(outputByte_));
        bitPosition_ = 0;
        outputByte_ = 0;
        if (pending_.size() >= kFlushAt)
            flushPending();
    } else {
        ++bitPosition_;
    }
}

void TRpCompress::Encode(uint8_t byte)
{
    // A path has at most one step per inner node.
    std::array<bool, 257> bits{};
    size_t depth = 0;
    int a = byte + kFirstLeaf;
    int p = 0;
    do {
        p = up_[static_cast<size_t>(a)];
        bits[depth++] = right_[static_cast<size_t>(p)] == a;
        a = p;
    } while (p != kRoot);
    while (depth > 0)
        putBit(bits[--depth]);
    splay(byte);
}

void TRpCompress::EncodeBuffer(const char* data, qint64 count)
{
    for (qint64 i = 0; i < count; ++i)
        Encode(static_cast<uint8_t>(data[i]));
}

bool TRpCompress::nextBit()
{
    if (bitPosition_ == 7) {
        char c = 0;
        if (stream_->Read(&c, 1) != 1)
            throw ERpError(QStringLiteral("Page compression: the compressed data ends early at byte %1")
                               .arg(stream_->Position()));
        inputByte_ = static_cast<uint8_t>(c);
        bitPosition_ = 0;
    } else {
        ++bitPosition_;
    }
    return ((inputByte_ >> bitPosition_) & 1u) != 0;
}

uint8_t TRpCompress::Decode()
{
    int node = kRoot;
    while (node < kFirstLeaf)
        node = nextBit() ? right_[static_cast<size_t>(node)] : left_[static_cast<size_t>(node)];
    if (node == kUnusedLeaf)
        throw ERpError(QStringLiteral("Page compression: invalid code before byte %1")
                           .arg(stream_->Position()));
    const int b = node - kFirstLeaf;
    splay(b);
    return static_cast<uint8_t>(b);
}

QByteArray TRpCompress::DecodeBuffer(qint64 count)
{
    QByteArray out;
    out.resize(static_cast<qsizetype>(count));
    char* d = out.data();
    for (qint64 i = 0; i < count; ++i)
        d[i] = static_cast<char>(Decode());
    return out;
}

void TRpCompress::splay(int b)
{
    // Semi-splaying: each step swaps the node with its parent's sibling and moves up two levels.
    int a = b + kFirstLeaf;
    do {
        const int c = up_[static_cast<size_t>(a)];
        if (c == kRoot) {
            a = c;
        } else {
            const auto d = static_cast<size_t>(up_[static_cast<size_t>(c)]);
            int e = left_[d];
            if (e == c) {
                e = right_[d];
                right_[d] = static_cast<uint16_t>(a);
            } else {
                left_[d] = static_cast<uint16_t>(a);
            }
            if (left_[static_cast<size_t>(c)] == a)
                left_[static_cast<size_t>(c)] = static_cast<uint16_t>(e);
            else
                right_[static_cast<size_t>(c)] = static_cast<uint16_t>(e);
            up_[static_cast<size_t>(a)] = static_cast<uint8_t>(d);
            up_[static_cast<size_t>(e)] = static_cast<uint8_t>(c);
            a = static_cast<int>(d);
        }
    } while (a != kRoot);
}

QByteArray TRpCompress::encodeBytes(const QByteArray& plain)
{
    TRpStream stream(0);
    {
        TRpCompress coder(stream, true);
        coder.EncodeBuffer(plain.constData(), plain.size());
        coder.Finish();
    }
    return stream.ReadAll();
}

QByteArray TRpCompress::decodeBytes(const QByteArray& code, qint64 count)
{
    if (count < 0)
        throw ERpError(QStringLiteral("Page compression: negative byte count %1").arg(count));
    // Every byte costs at least one bit: a larger count cannot be honest.
    if (count > static_cast<qint64>(code.size()) * 8)
        throw ERpError(QStringLiteral("Page compression: %1 bytes cannot come from %2 code bytes")
                           .arg(count)
                           .arg(code.size()));
    TRpStream stream(0);
    stream.Write(code.constData(), code.size());
    stream.Seek(0, TRpSeekOrigin::FromBeginning);
    TRpCompress coder(stream, false);
    return coder.DecodeBuffer(count);
}
