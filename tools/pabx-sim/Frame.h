#pragma once
// Frames of the PABX control link, as the unit builds and reads them. Pure
// functions over bytes: no sockets, no state beyond the reader's buffer.
//
// Every frame: 0x55, L (16-bit, bytes after this field), kind (3 PROG,
// 6 CTRL), command, then fields by kind; all 16-bit values little-endian.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pabxsim {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kStartByte = 0x55;
inline constexpr uint16_t kKindProg = 3;
inline constexpr uint16_t kKindCtrl = 6;
inline constexpr uint16_t kProgRead = 4;
inline constexpr uint16_t kProgWrite = 5;
inline constexpr uint16_t kProgDataReply = 0x8004;
inline constexpr uint16_t kProgAck = 0x8005;
inline constexpr uint16_t kCtrlRecordings = 2;  // sub-code 0x8C
inline constexpr uint16_t kCtrlLogin = 3;       // sub-code 10005
inline constexpr uint16_t kCtrlXml = 9;         // sub-code = document code
inline constexpr uint16_t kCtrlSdCard = 0x190;  // sub-code 0x8C
inline constexpr uint16_t kSubRecordings = 0x8C;
inline constexpr uint16_t kSubLogin = 10005;
inline constexpr size_t kMaxFrame = 65535 + 3;

uint16_t GetU16(const Bytes& b, size_t at);
void PutU16(Bytes& b, size_t at, uint16_t v);
void AppendU16(Bytes& b, uint16_t v);
void AppendU32(Bytes& b, uint32_t v);
void AppendI64(Bytes& b, int64_t v);

// PROG data reply: [7-8] 1, [9-10] block, [11-12] index, [13-14] data length in
// words ((n + 1) / 2), data from 15. Odd data is not padded.
Bytes ProgDataReply(uint16_t block, uint16_t index, const Bytes& data);
// PROG acknowledgement: the data reply's 15-byte header with no data.
Bytes ProgAckFrame(uint16_t block, uint16_t index);
// The command a CTRL reply carries: the request's with 0x80 set in its low
// byte (2 -> 0x82, 0x190 stays 0x190).
uint16_t CtrlReplyCommand(uint16_t requestCommand);
// CTRL reply: [5-6] command as given, [7-8] result, [9-10] sub-code, [11-12]
// data length in words, data from 13.
Bytes CtrlReplyFrame(uint16_t command, uint16_t result, uint16_t subCode, const Bytes& data = {});
// XML document reply: command 9, result 1, [9-10] document code, the text and
// then 10 zero bytes.
Bytes XmlReplyFrame(uint16_t code, std::string_view latin1Text);

// What a client asked for, read from one complete frame.
struct Request {
    uint16_t kind = 0;
    uint16_t command = 0;
    // PROG: block and index. CTRL: block holds the sub-code.
    uint16_t block = 0;
    uint16_t index = 0;
    uint16_t subCode = 0;
    Bytes payload;  // PROG write form from 13; CTRL from 11 (counted by L)
    // PROG write form: the word count at [11-12] (0 for the 11-byte read form).
    uint16_t wordCount = 0;
    bool wellFormed = false;
};
Request ParseRequest(const Bytes& frame);

// Cuts a byte stream into frames: bytes before a start byte are skipped, a
// frame ends after L + 3 bytes (so 0x55 inside a frame is data), and a frame
// may arrive split at any byte.
class FrameReader final {
  public:
    // Appends the frames completed by these bytes to `out`.
    void Feed(const uint8_t* data, size_t n, std::vector<Bytes>& out);
    void Reset() { buf_.clear(); }

  private:
    Bytes buf_;
};

// "55 08 00 03 ..." (upper-case pairs joined by blanks).
std::string Hex(const Bytes& b);
Bytes FromHex(std::string_view text);  // blanks ignored; throws on bad digits

}  // namespace pabxsim
