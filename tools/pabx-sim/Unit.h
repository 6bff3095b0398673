#pragma once
// A simulated unit: the state all its sessions share (configuration blocks,
// documents, SD-card figures, recording store) and one session's handling of
// requests. Handling is pure apart from the store: a request frame in, the
// reply frames out; the network layer sends them (or spoils them on demand).
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/pabx-sim/Frame.h"
#include "tools/pabx-sim/Scenario.h"
#include "tools/pabx-sim/Store.h"

namespace pabxsim {

enum class AgendaKind { Short, Long, Xml };
// The agenda form a model's unit keeps: "ORVAL500" long, "BRELVO" or
// "TK506_4M" the XML document, any other the short blocks.
AgendaKind AgendaKindForModel(const std::string& model);

// One accepted write, as the unit stored it.
struct BlockWrite {
    uint16_t block = 0, index = 0;
    Bytes data;
};

// Shared by every session of one simulator; all members thread-safe.
class Unit final {
  public:
    explicit Unit(const Scenario& scenario);
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;

    std::optional<Bytes> ReadBlock(uint16_t block, uint16_t index) const;
    // False when the unit does not take writes to that block, or when the
    // data does not fit it (an extension word is exactly 4 bytes).
    bool WriteBlock(uint16_t block, uint16_t index, const Bytes& data);

    // What the extension blocks hold now: an extension's recording word (0
    // until written), its list (empty until written), the list of configured
    // extensions (10/35), zero words left out of the lists; and every
    // accepted write in order.
    uint16_t ExtensionWord(uint16_t extension) const;
    std::vector<uint16_t> ExtensionList(uint16_t extension) const;
    std::vector<uint16_t> ConfiguredList() const;
    std::vector<BlockWrite> Writes() const;
    // One line: "list=1001,1002 1001=0x0007:1002,1003 1002=0x0000:" with
    // every extension of the list and every extension written.
    std::string DescribeExtensions() const;
    bool PasswordMatches(const std::string& latin1) const;
    // Latin-1 text of XML document `code`; empty optional when the unit has none.
    std::optional<std::string> Document(uint16_t code) const;
    // Reply data of the SD-card volume: total, free, used (signed 64-bit), 8 zero bytes.
    Bytes SdCardVolume() const;
    void SetSdCard(int64_t total, int64_t free, int64_t used);

    RecordingStore& store() { return store_; }

  private:
    static bool Writable(uint16_t block, uint16_t index);

    const std::string passwordLatin1_;
    RecordingStore store_;
    mutable std::mutex mutex_;  // guards everything below
    std::map<std::pair<uint16_t, uint16_t>, Bytes> blocks_;
    std::map<uint16_t, std::string> documents_;
    std::vector<BlockWrite> writes_;
    int64_t sdTotal_, sdFree_, sdUsed_;
};

// One connection's view: logged in or not, recordings access open or not.
// Used by one thread.
class Session final {
  public:
    explicit Session(Unit& unit) : unit_(unit) {}

    // Whether the unit answers this request at all (before a login only the
    // login is answered; frames of unknown kinds never).
    bool Answers(const Request& r) const;
    // The reply frames, in sending order. Performs the request's effect.
    std::vector<Bytes> Handle(const Request& r);
    // What a refusal of this request looks like (result word `result`).
    Bytes Refusal(const Request& r, uint16_t result) const;
    // An acknowledgement that names the wrong block.
    Bytes WrongAck(const Request& r) const;
    // The names fault rules match this request by.
    static std::vector<std::string> Names(const Request& r);

    bool loggedIn() const { return loggedIn_; }
    bool accessOpen() const { return accessOpen_; }

  private:
    Bytes HandleRecordings(const Request& r);

    Unit& unit_;
    bool loggedIn_ = false;
    bool accessOpen_ = false;
};

}  // namespace pabxsim
