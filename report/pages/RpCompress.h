#pragma once
// Adaptive splay-tree prefix coder for page records. Each byte is coded by its path from the root
// of a 256-leaf tree; after every byte the tree is semi-splayed so that frequent bytes move
// towards the root. Encoder and decoder start from the same initial tree, so one coder object
// codes exactly one page record.
#include <QByteArray>
#include <array>
#include <cstdint>

class TRpStream;

class TRpCompress {
public:
    // A coder on a stream: an encoder appends code bytes at the stream's position, a decoder reads
    // them from there.
    TRpCompress(TRpStream& stream, bool encoding);
    // An encoder writes its last, partly filled byte (if any) when destroyed.
    ~TRpCompress();
    TRpCompress(const TRpCompress&) = delete;
    TRpCompress& operator=(const TRpCompress&) = delete;

    void Encode(uint8_t byte);
    void EncodeBuffer(const char* data, qint64 count);
    // Throws ERpError when the stream ends before the byte is complete.
    uint8_t Decode();
    // Decodes count bytes.
    QByteArray DecodeBuffer(qint64 count);

    // Writes out what the encoder still holds; errors (a full disk) are thrown here rather than
    // lost in the destructor. Nothing for a decoder.
    void Finish();

    // Whole-buffer helpers for callers without a stream.
    static QByteArray encodeBytes(const QByteArray& plain);
    // Throws ERpError when code runs out before count bytes are decoded.
    static QByteArray decodeBytes(const QByteArray& code, qint64 count);

private:
    void splay(int b);
    void putBit(bool one);
    void flushPending();
    bool nextBit();

    TRpStream* stream_;
    bool encoding_;
    bool finished_ = false;
    std::array<uint8_t, 513> up_{};
    std::array<uint16_t, 256> left_{};
    std::array<uint16_t, 256> right_{};
    int bitPosition_ = 0;
    uint8_t outputByte_ = 0;
    uint8_t inputByte_ = 0;
    // Completed code bytes not yet handed to the stream: writing them one at a time would take
    // the stream's lock per byte. Nothing else writes to the stream while an encoder lives.
    QByteArray pending_;
};
