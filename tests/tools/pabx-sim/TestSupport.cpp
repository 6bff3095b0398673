#include "TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace pabxsim::test {

RawClient::RawClient(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        throw std::runtime_error("connect failed");
}

RawClient::~RawClient() { close(fd_); }

void RawClient::Send(const Bytes& b) {
    size_t at = 0;
    while (at < b.size()) {
        ssize_t k = send(fd_, b.data() + at, b.size() - at, MSG_NOSIGNAL);
        if (k <= 0) throw std::runtime_error("send failed");
        at += static_cast<size_t>(k);
    }
}

bool RawClient::ReadSome(int timeoutMs) {
    if (eof_) return false;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    uint8_t buf[70000];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
        eof_ = true;
        return false;
    }
    ++reads_;
    pending_.insert(pending_.end(), buf, buf + n);
    return true;
}

Bytes RawClient::Frame(int timeoutMs) {
    for (;;) {
        while (!pending_.empty() && pending_[0] != kStartByte) {
            pending_.erase(pending_.begin());
            ++skipped_;
        }
        if (pending_.size() >= 3) {
            size_t total = static_cast<size_t>(GetU16(pending_, 1)) + 3;
            if (pending_.size() >= total) {
                Bytes f(pending_.begin(), pending_.begin() + static_cast<long>(total));
                pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(total));
                return f;
            }
        }
        if (!ReadSome(timeoutMs)) return {};
    }
}

Bytes RawClient::Drain(int idleMs, int firstMs) {
    if (pending_.empty() && !ReadSome(firstMs)) return {};
    while (ReadSome(idleMs)) {
    }
    Bytes all = std::move(pending_);
    pending_.clear();
    return all;
}

bool RawClient::Closed(int timeoutMs) {
    while (ReadSome(timeoutMs)) {
    }
    return eof_;
}

bool RawClient::Login(const std::string& password) {
    Send(LoginRequest(password));
    Bytes ack = Frame();
    if (ack.size() != 15 || GetU16(ack, 5) != kProgAck || GetU16(ack, 9) != kSubLogin) return false;
    Bytes ok = Frame();
    return ok.size() >= 9 && GetU16(ok, 5) == 0x83 && GetU16(ok, 7) == 1;
}

Bytes CtrlRequest(uint16_t command, uint16_t subCode, const Bytes& payload) {
    Bytes f{kStartByte};
    AppendU16(f, static_cast<uint16_t>(payload.size() + 8));
    AppendU16(f, kKindCtrl);
    AppendU16(f, command);
    AppendU16(f, subCode);
    AppendU16(f, static_cast<uint16_t>((payload.size() + 1) / 2));
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

Bytes ProgRead(uint16_t block, uint16_t index) {
    Bytes f{kStartByte};
    AppendU16(f, 8);
    AppendU16(f, kKindProg);
    AppendU16(f, kProgRead);
    AppendU16(f, block);
    AppendU16(f, index);
    return f;
}

Bytes ProgReadLong(uint16_t block, uint16_t index) {
    Bytes f = ProgRead(block, index);
    PutU16(f, 1, 10);
    AppendU16(f, 0);
    return f;
}

Bytes ProgWrite(uint16_t block, uint16_t index, const Bytes& payload) {
    Bytes f{kStartByte};
    AppendU16(f, static_cast<uint16_t>(payload.size() + 10));
    AppendU16(f, kKindProg);
    AppendU16(f, kProgWrite);
    AppendU16(f, block);
    AppendU16(f, index);
    AppendU16(f, static_cast<uint16_t>((payload.size() + 1) / 2));
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

Bytes LoginRequest(const std::string& password) {
    Bytes p;
    for (char c : "KelvMonitor," + password) {
        p.push_back(static_cast<uint8_t>(c));
        p.push_back(0);
    }
    return CtrlRequest(kCtrlLogin, kSubLogin, p);
}

Bytes AccessRequest(bool open) {
    Bytes p;
    AppendU16(p, 0);
    AppendU16(p, 0xFFFF);
    p.push_back(open ? 1 : 0);
    p.push_back(0);
    return CtrlRequest(kCtrlRecordings, kSubRecordings, p);
}

Bytes UsbRequest() {
    Bytes p;
    AppendU16(p, 1);
    AppendU16(p, 0xFFFF);
    return CtrlRequest(kCtrlRecordings, kSubRecordings, p);
}

Bytes RemovalRequest(const std::string& unitPath) {
    Bytes p;
    AppendU16(p, 2);
    AppendU16(p, 0xFFFF);
    p.insert(p.end(), unitPath.begin(), unitPath.end());
    p.push_back(0);
    return CtrlRequest(kCtrlRecordings, kSubRecordings, p);
}

}  // namespace pabxsim::test
