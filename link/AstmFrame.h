#pragma once
// Low-level framing of the analyser's line protocol: control bytes, frames and their checksum.
// Used by the analyser simulator to send, by the frame receiver to check frames as they arrive,
// and by tests to build and check what was received.
//
// Knows: control bytes, frame numbers, the frame layout and its checksum. Must not know: what
// records mean, messages, ports, files. Untrusted: the bytes given to parseFrame and FrameCheck
// (any length, any content): a frame is good only when whole and its sum matches.
#include <QByteArray>
#include <QList>

namespace astm {

constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr char EOT = 0x04;
constexpr char ENQ = 0x05;
constexpr char ACK = 0x06;
constexpr char LF = 0x0A;
constexpr char CR = 0x0D;
constexpr char NAK = 0x15;
constexpr char ETB = 0x17;

// Most text characters one frame may carry; a longer record continues in further frames.
constexpr int kMaxFrameText = 240;

// Two uppercase hex digits of the sum, modulo 256, of the bytes given (frame number through
// ETX or ETB). Bytes are summed raw, so CP1251 text checks the same as it travels.
QByteArray checksum(const QByteArray& frameNumberThroughEnd);

// Frame number after n (1..7, 0, 1, ...): the first frame after ENQ is 1.
inline int nextFrameNumber(int n) { return (n + 1) % 8; }

// One frame: STX, frame number digit, text, then CR ETX when last (ETB otherwise, without the
// CR), the checksum and CR LF. frameNumber is taken modulo 8.
QByteArray frame(int frameNumber, const QByteArray& text, bool last = true);

// A record as the frames it travels in, numbered from firstNumber: one frame when it fits,
// otherwise ETB frames of kMaxFrameText characters and a last ETX frame.
QList<QByteArray> recordFrames(int firstNumber, const QByteArray& record);

// What a frame holds once checked.
struct ParsedFrame {
    int number = -1;
    QByteArray text;   // without the CR before ETX
    bool last = false; // ended with ETX
};

// Checks one whole frame (STX ... CR LF); false with a reason when the framing or the checksum
// is wrong.
bool parseFrame(const QByteArray& bytes, ParsedFrame& out, QByteArray* reason = nullptr);

// Checks a frame as its bytes go past, in constant memory, so a frame of any length (one that
// did not fit a buffer included) is judged on every byte it had. Feed it from the STX on with
// start(), then every later byte, the final LF included; intact() then says whether what went
// past is STX, a frame number, text, ETX or ETB, two hex digits matching the sum, CR, LF.
// Hex digits are taken in either case: the sum is what proves the text undamaged.
class FrameCheck {
public:
    void start();
    // Forgets the frame begun (no STX seen since): what follows is not a frame.
    void reset() { started_ = false; }
    void add(char c);
    bool intact() const;

private:
    bool started_ = false;
    unsigned sum_ = 0;        // of every byte after the STX, modulo 256
    unsigned count_ = 0;      // bytes after the STX, counted up to the few a frame needs at least
    char tail_[5] = {};       // the last five bytes: end mark, two digits, CR, LF when whole
};

} // namespace astm
