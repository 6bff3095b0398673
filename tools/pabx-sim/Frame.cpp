#include "tools/pabx-sim/Frame.h"

#include <stdexcept>

namespace pabxsim {

uint16_t GetU16(const Bytes& b, size_t at) {
    if (at + 2 > b.size()) return 0;
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

void PutU16(Bytes& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void AppendU16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v & 0xFF));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void AppendU32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void AppendI64(Bytes& b, int64_t v) {
    auto u = static_cast<uint64_t>(v);
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

namespace {

Bytes Header(uint16_t kind, uint16_t command, size_t restAfterCommand) {
    Bytes f;
    f.reserve(7 + restAfterCommand);
    f.push_back(kStartByte);
    // L counts kind and command (4 bytes) plus what follows them; callers keep
    // frames within 16 bits except the deliberate oversized fault, which builds
    // its own header.
    AppendU16(f, static_cast<uint16_t>(4 + restAfterCommand));
    AppendU16(f, kind);
    AppendU16(f, command);
    return f;
}

uint16_t Words(size_t n) { return static_cast<uint16_t>((n + 1) / 2); }

}  // namespace

Bytes ProgDataReply(uint16_t block, uint16_t index, const Bytes& data) {
    Bytes f = Header(kKindProg, kProgDataReply, 8 + data.size());
    AppendU16(f, 1);
    AppendU16(f, block);
    AppendU16(f, index);
    AppendU16(f, Words(data.size()));
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

Bytes ProgAckFrame(uint16_t block, uint16_t index) {
    Bytes f = Header(kKindProg, kProgAck, 8);
    AppendU16(f, 1);
    AppendU16(f, block);
    AppendU16(f, index);
    AppendU16(f, 0);
    return f;
}

uint16_t CtrlReplyCommand(uint16_t requestCommand) { return requestCommand | 0x80; }

Bytes CtrlReplyFrame(uint16_t command, uint16_t result, uint16_t subCode, const Bytes& data) {
    Bytes f = Header(kKindCtrl, command, 6 + data.size());
    AppendU16(f, result);
    AppendU16(f, subCode);
    AppendU16(f, Words(data.size()));
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

Bytes XmlReplyFrame(uint16_t code, std::string_view latin1Text) {
    Bytes data(latin1Text.begin(), latin1Text.end());
    data.resize(data.size() + 10, 0);
    return CtrlReplyFrame(kCtrlXml, 1, code, data);
}

Request ParseRequest(const Bytes& frame) {
    Request r;
    if (frame.size() < 7 || frame[0] != kStartByte) return r;
    r.kind = GetU16(frame, 3);
    r.command = GetU16(frame, 5);
    if (r.kind == kKindProg) {
        if (frame.size() < 11) return r;
        r.block = GetU16(frame, 7);
        r.index = GetU16(frame, 9);
        if (frame.size() >= 13) r.wordCount = GetU16(frame, 11);
        if (frame.size() > 13) r.payload.assign(frame.begin() + 13, frame.end());
        r.wellFormed = true;
    } else if (r.kind == kKindCtrl) {
        if (frame.size() < 11) return r;
        r.subCode = GetU16(frame, 7);
        r.block = r.subCode;
        r.payload.assign(frame.begin() + 11, frame.end());
        r.wellFormed = true;
    }
    return r;
}

void FrameReader::Feed(const uint8_t* data, size_t n, std::vector<Bytes>& out) {
    for (size_t i = 0; i < n; ++i) {
        uint8_t b = data[i];
        if (buf_.empty()) {
            if (b == kStartByte) buf_.push_back(b);
            continue;
        }
        buf_.push_back(b);
        if (buf_.size() >= 3) {
            size_t total = static_cast<size_t>(GetU16(buf_, 1)) + 3;
            if (buf_.size() >= total) {
                out.push_back(std::move(buf_));
                buf_.clear();
            }
        }
    }
}

std::string Hex(const Bytes& b) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    s.reserve(b.size() * 3);
    for (size_t i = 0; i < b.size(); ++i) {
        if (i) s.push_back(' ');
        s.push_back(digits[b[i] >> 4]);
        s.push_back(digits[b[i] & 0xF]);
    }
    return s;
}

Bytes FromHex(std::string_view text) {
    Bytes out;
    int hi = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else if (c == ' ' || c == '\t' || c == ':')
            continue;
        else
            throw std::invalid_argument("not a hexadecimal digit: " + std::string(1, c));
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<uint8_t>(hi * 16 + v));
            hi = -1;
        }
    }
    if (hi >= 0) throw std::invalid_argument("odd number of hexadecimal digits");
    return out;
}

}  // namespace pabxsim
