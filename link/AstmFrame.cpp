#include "link/AstmFrame.h"

namespace astm {

QByteArray checksum(const QByteArray& frameNumberThroughEnd)
{
    unsigned sum = 0;
    for (char c : frameNumberThroughEnd)
        sum += static_cast<unsigned char>(c);
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out(2, '0');
    out[0] = hex[(sum >> 4) & 0xF];
    out[1] = hex[sum & 0xF];
    return out;
}

QByteArray frame(int frameNumber, const QByteArray& text, bool last)
{
    QByteArray body;
    body.reserve(text.size() + 3);
    body.append(static_cast<char>('0' + ((frameNumber % 8) + 8) % 8));
    body.append(text);
    if (last) {
        body.append(CR);
        body.append(ETX);
    } else {
        body.append(ETB);
    }
    QByteArray out;
    out.reserve(body.size() + 5);
    out.append(STX);
    out.append(body);
    out.append(checksum(body));
    out.append(CR);
    out.append(LF);
    return out;
}

QList<QByteArray> recordFrames(int firstNumber, const QByteArray& record)
{
    QList<QByteArray> frames;
    int number = firstNumber;
    qsizetype at = 0;
    // The record's CR travels inside its last frame, so it counts against that frame's room.
    while (record.size() - at + 1 > kMaxFrameText) {
        frames.append(frame(number, record.mid(at, kMaxFrameText), false));
        at += kMaxFrameText;
        number = nextFrameNumber(number);
    }
    frames.append(frame(number, record.mid(at), true));
    return frames;
}

bool parseFrame(const QByteArray& bytes, ParsedFrame& out, QByteArray* reason)
{
    auto fail = [&](const char* why) {
        if (reason)
            *reason = why;
        return false;
    };
    // STX, number, end mark, two checksum digits, CR, LF.
    if (bytes.size() < 7)
        return fail("frame too short");
    if (bytes.front() != STX)
        return fail("frame does not start with STX");
    if (bytes.at(bytes.size() - 2) != CR || bytes.back() != LF)
        return fail("frame does not end with CR LF");
    const qsizetype endMark = bytes.size() - 5;
    const char mark = bytes.at(endMark);
    if (mark != ETX && mark != ETB)
        return fail("frame has no ETX or ETB before its checksum");
    const QByteArray body = bytes.mid(1, endMark);
    if (checksum(body) != bytes.mid(endMark + 1, 2))
        return fail("frame checksum does not match");
    const char digit = bytes.at(1);
    if (digit < '0' || digit > '7')
        return fail("frame number is not a digit 0 to 7");
    out.number = digit - '0';
    out.last = mark == ETX;
    out.text = bytes.mid(2, endMark - 2);
    if (out.last) {
        if (out.text.isEmpty() || out.text.back() != CR)
            return fail("last frame has no CR before ETX");
        out.text.chop(1);
    }
    return true;
}

void FrameCheck::start()
{
    started_ = true;
    sum_ = 0;
    count_ = 0;
}

void FrameCheck::add(char c)
{
    if (!started_)
        return;
    sum_ = (sum_ + static_cast<unsigned char>(c)) & 0xFFu;
    if (count_ < 6)
        ++count_;
    for (int i = 0; i < 4; ++i)
        tail_[i] = tail_[i + 1];
    tail_[4] = c;
}

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

bool FrameCheck::intact() const
{
    // Frame number, end mark, two digits, CR, LF at least.
    if (!started_ || count_ < 6)
        return false;
    const char mark = tail_[0];
    if ((mark != ETX && mark != ETB) || tail_[3] != CR || tail_[4] != LF)
        return false;
    const int high = hexValue(tail_[1]);
    const int low = hexValue(tail_[2]);
    if (high < 0 || low < 0)
        return false;
    // The sum runs from the frame number through the end mark: take the digits, CR and LF out.
    unsigned trailer = 0;
    for (int i = 1; i < 5; ++i)
        trailer += static_cast<unsigned char>(tail_[i]);
    const unsigned body = (sum_ + 256u * 4u - trailer) & 0xFFu;
    return body == static_cast<unsigned>(high * 16 + low);
}

} // namespace astm
