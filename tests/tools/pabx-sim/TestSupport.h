#pragma once
// Raw-socket client for the simulator's tests (scratch folders: PastaTemporaria).
#include <filesystem>
#include <string>

#include "tests/support/PastaTemporaria.h"
#include "tools/pabx-sim/Frame.h"

namespace pabxsim::test {

// Talks to the simulator the way a client does, bytes in, bytes out.
class RawClient final {
  public:
    explicit RawClient(uint16_t port);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    void Send(const Bytes& b);
    // The next whole frame (leading junk skipped), or empty after `timeoutMs`.
    Bytes Frame(int timeoutMs = 2000);
    // Every byte that arrives until nothing came for `idleMs`, waiting up to
    // `firstMs` for the first bytes.
    Bytes Drain(int idleMs = 200, int firstMs = 3000);
    // Whether the peer closed the connection within `timeoutMs`.
    bool Closed(int timeoutMs = 2000);
    // Bytes skipped before frames by Frame(), and the number of reads that
    // brought bytes in.
    size_t skipped() const { return skipped_; }
    int reads() const { return reads_; }

    // Logs in; true when the acknowledgement of block 10005 and result 1 came.
    bool Login(const std::string& password);

  private:
    bool ReadSome(int timeoutMs);

    int fd_ = -1;
    Bytes pending_;
    size_t skipped_ = 0;
    int reads_ = 0;
    bool eof_ = false;
};

// Request frames, as a client builds them.
Bytes CtrlRequest(uint16_t command, uint16_t subCode, const Bytes& payload = {});
Bytes ProgRead(uint16_t block, uint16_t index);      // 11-byte read form
Bytes ProgReadLong(uint16_t block, uint16_t index);  // 13-byte write form, no payload
Bytes ProgWrite(uint16_t block, uint16_t index, const Bytes& payload);
Bytes LoginRequest(const std::string& password);
Bytes AccessRequest(bool open);
Bytes UsbRequest();
Bytes RemovalRequest(const std::string& unitPath);

}  // namespace pabxsim::test
