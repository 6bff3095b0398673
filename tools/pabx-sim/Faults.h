#pragma once
// Faults on demand. A rule names which requests it hits, what goes wrong and
// when:   <match> <action>[=<arg>] [nth=<N>] [times=<K>]
//
// match:  * | login | read | write | xml | access | usb | remove | sdcard |
//         read:<block>/<index> | write:<block>/<index> | xml:<code> |
//         read:*/<index> | write:*/<index> |
//         version | release | params | dnsnames | dnsindexes | agenda |
//         agendalong | extlist
// action: noreply | delay=<ms> | refuse[=<result>] | drop | split[=<bytes>] |
//         junk[=<bytes>] | short | malformed | wrongack | badxml | oversize |
//         wrongblock | cut=<bytes>
// nth=N:  only the Nth request the rule matches (1-based, counted over all
//         sessions); times=K: at most K times. Without either: every match.
// The first rule that fires wins. Thread-safe.
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pabxsim {

enum class FaultAction {
    NoReply,
    Delay,
    Refuse,
    Drop,
    Split,
    Junk,
    Short,
    Malformed,
    WrongAck,
    BadXml,
    Oversize,
    WrongBlock,
    Cut
};

struct Fault {
    FaultAction action = FaultAction::NoReply;
    int arg = 0;  // delay in ms, refusal result, split chunk, junk length, data kept; 0 = default
};

struct FaultRule {
    std::string match;
    Fault fault;
    int nth = 0;
    int times = -1;
};

// Throws std::invalid_argument with the reason.
FaultRule ParseFaultRule(const std::string& text);

class FaultTable final {
  public:
    void Add(FaultRule rule);
    void Clear();
    // `names`: every name the request answers to (e.g. "read", "read:19/1", "params").
    std::optional<Fault> Decide(const std::vector<std::string>& names);

  private:
    struct Entry {
        FaultRule rule;
        int seen = 0;
        int fired = 0;
    };
    std::mutex mutex_;  // guards entries_
    std::vector<Entry> entries_;
};

}  // namespace pabxsim
