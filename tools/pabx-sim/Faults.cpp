#include "tools/pabx-sim/Faults.h"

#include <algorithm>
#include <charconv>
#include <sstream>
#include <stdexcept>

namespace pabxsim {
namespace {

int Int(const std::string& s, const std::string& what) {
    int v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size() || v < 0)
        throw std::invalid_argument("bad " + what + ": " + s);
    return v;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

FaultRule ParseFaultRule(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(Lower(w));
    if (words.size() < 2)
        throw std::invalid_argument("fault rule needs a match and an action: " + text);
    FaultRule r;
    r.match = words[0];
    std::string action = words[1];
    std::string arg;
    if (auto eq = action.find('='); eq != std::string::npos) {
        arg = action.substr(eq + 1);
        action = action.substr(0, eq);
    }
    static const std::pair<const char*, FaultAction> kActions[] = {
        {"noreply", FaultAction::NoReply},
        {"delay", FaultAction::Delay},
        {"refuse", FaultAction::Refuse},
        {"drop", FaultAction::Drop},
        {"split", FaultAction::Split},
        {"junk", FaultAction::Junk},
        {"short", FaultAction::Short},
        {"malformed", FaultAction::Malformed},
        {"wrongack", FaultAction::WrongAck},
        {"badxml", FaultAction::BadXml},
        {"oversize", FaultAction::Oversize},
        {"wrongblock", FaultAction::WrongBlock},
        {"cut", FaultAction::Cut}};
    bool known = false;
    for (auto& [name, a] : kActions) {
        if (action == name) {
            r.fault.action = a;
            known = true;
        }
    }
    if (!known) throw std::invalid_argument("unknown fault action: " + action);
    if (!arg.empty()) r.fault.arg = Int(arg, "fault argument");
    if (r.fault.action == FaultAction::Delay && arg.empty())
        throw std::invalid_argument("delay needs =<ms>");
    if (r.fault.action == FaultAction::Cut && arg.empty())
        throw std::invalid_argument("cut needs =<bytes>");
    for (size_t i = 2; i < words.size(); ++i) {
        if (words[i].rfind("nth=", 0) == 0)
            r.nth = Int(words[i].substr(4), "nth");
        else if (words[i].rfind("times=", 0) == 0)
            r.times = Int(words[i].substr(6), "times");
        else
            throw std::invalid_argument("unknown fault option: " + words[i]);
    }
    return r;
}

void FaultTable::Add(FaultRule rule) {
    std::lock_guard lock(mutex_);
    entries_.push_back({std::move(rule)});
}

void FaultTable::Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

std::optional<Fault> FaultTable::Decide(const std::vector<std::string>& names) {
    std::lock_guard lock(mutex_);
    for (auto& e : entries_) {
        bool hit = e.rule.match == "*" ||
                   std::find(names.begin(), names.end(), e.rule.match) != names.end();
        if (!hit) continue;
        ++e.seen;
        if (e.rule.nth > 0 && e.seen != e.rule.nth) continue;
        if (e.rule.times >= 0 && e.fired >= e.rule.times) continue;
        ++e.fired;
        return e.rule.fault;
    }
    return std::nullopt;
}

}  // namespace pabxsim
