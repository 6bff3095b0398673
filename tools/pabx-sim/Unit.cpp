#include "tools/pabx-sim/Unit.h"

#include <algorithm>
#include <cstdio>

#include "common/Texto.h"

namespace pabxsim {
namespace {

constexpr uint16_t kAgendaDocument = 26;

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A NUL-padded text field of `width` bytes, the text cut to fit.
void AppendField(Bytes& b, const std::string& utf8, size_t width) {
    std::string t = Utf8ParaLatin1(utf8);
    t.resize(std::min(t.size(), width));
    b.insert(b.end(), t.begin(), t.end());
    b.resize(b.size() + (width - t.size()), 0);
}

Bytes Words(const std::vector<uint16_t>& v) {
    Bytes b;
    for (auto w : v) AppendU16(b, w);
    return b;
}

std::string XmlEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

std::string AgendaDocument(const std::vector<AgendaEntry>& agenda) {
    std::string x =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<zirurezuverizizir>\r\n<idramais>\r\n";
    for (const auto& a : agenda) {
        x += "<ramal><numero>" + std::to_string(a.number) + "</numero><nomecurto>" +
             XmlEscape(a.shortName) + "</nomecurto><nome>" + XmlEscape(a.longName) +
             "</nome></ramal>\r\n";
    }
    x += "</idramais>\r\n</zirurezuverizizir>\r\n";
    return Utf8ParaLatin1(x);
}

bool ExtensionBlock(uint16_t block) {
    return (block >= 1000 && block <= 1999) || (block >= 3000 && block <= 3999);
}

}  // namespace

AgendaKind AgendaKindForModel(const std::string& model) {
    std::string m = Upper(model);
    if (m.find("ORVAL500") != std::string::npos) return AgendaKind::Long;
    if (m.find("BRELVO") != std::string::npos || m.find("TK506_4M") != std::string::npos)
        return AgendaKind::Xml;
    return AgendaKind::Short;
}

Unit::Unit(const Scenario& s)
    : passwordLatin1_(Utf8ParaLatin1(s.password)), store_(s.store), sdTotal_(s.sdTotal),
      sdFree_(s.sdFree), sdUsed_(s.sdUsed) {
    blocks_[{102, 0}] = Words({s.versionMajor, s.versionMinor});
    blocks_[{102, 2}] = Words({s.release});

    Bytes params = s.parameters;
    params.resize(128, 0);
    Bytes model;
    AppendField(model, s.model, 20);
    std::copy(model.begin(), model.end(), params.begin() + 82);
    blocks_[{19, 1}] = params;

    Bytes names;
    for (size_t i = 0; i < s.dnsNames.size(); ++i) {
        AppendU16(names, static_cast<uint16_t>(i));
        AppendU16(names, s.dnsNames[i].disabled ? 1 : 0);
        AppendField(names, s.dnsNames[i].name, 12);
    }
    blocks_[{2, 0}] = names;

    Bytes indexes;
    for (const auto& d : s.dnsIndexes) {
        AppendU32(indexes, d.type);
        AppendU16(indexes, d.number);
        indexes.resize(indexes.size() + 6, 0);
        AppendU16(indexes, d.nameIndex);
        AppendU16(indexes, 0);
    }
    blocks_[{2, 3}] = indexes;

    AgendaKind kind = AgendaKindForModel(s.model);
    bool all = s.agendaForms == AgendaForms::All;
    if (all || kind == AgendaKind::Short) {
        Bytes b;
        for (const auto& a : s.agenda) {
            AppendU16(b, a.number);
            AppendU16(b, 0);
            AppendField(b, a.longName, 30);
        }
        blocks_[{9, 5}] = b;
    }
    if (all || kind == AgendaKind::Long) {
        Bytes b;
        for (const auto& a : s.agenda) {
            AppendU16(b, a.number);
            AppendU16(b, 0);
            AppendField(b, a.longName, 32);
            b.resize(b.size() + 12, 0);
        }
        blocks_[{9, 15}] = b;
    }
    if (all || kind == AgendaKind::Xml) documents_[kAgendaDocument] = AgendaDocument(s.agenda);

    blocks_[{10, 35}] = Words(s.extensionList);
    for (const auto& [ext, value] : s.extensionParams) blocks_[{ext, 9}] = Words({value, 0});
    for (const auto& [ext, list] : s.extensionLists) blocks_[{ext, 10}] = Words(list);
    for (const auto& [key, data] : s.blocks) blocks_[key] = data;
    for (const auto& [code, text] : s.documents) documents_[code] = Utf8ParaLatin1(text);
}

bool Unit::Writable(uint16_t block, uint16_t index) {
    return (block == 10 && index == 35) || (ExtensionBlock(block) && (index == 9 || index == 10));
}

std::optional<Bytes> Unit::ReadBlock(uint16_t block, uint16_t index) const {
    std::lock_guard lock(mutex_);
    if (auto it = blocks_.find({block, index}); it != blocks_.end()) return it->second;
    // An extension without recording settings reads as a zero word and an empty list.
    if (ExtensionBlock(block) && index == 9) return Bytes(4, 0);
    if (ExtensionBlock(block) && index == 10) return Bytes{};
    return std::nullopt;
}

bool Unit::WriteBlock(uint16_t block, uint16_t index, const Bytes& data) {
    std::lock_guard lock(mutex_);
    if (!Writable(block, index)) return false;
    if (index == 9 && block != 10 && data.size() != 4) return false;
    if (data.size() % 2 != 0) return false;
    blocks_[{block, index}] = data;
    writes_.push_back({block, index, data});
    return true;
}

namespace {
std::vector<uint16_t> NonZeroWords(const Bytes& b) {
    std::vector<uint16_t> v;
    for (size_t i = 0; i + 1 < b.size(); i += 2)
        if (uint16_t w = GetU16(b, i); w != 0) v.push_back(w);
    return v;
}

std::string Join(const std::vector<uint16_t>& v) {
    std::string s;
    for (size_t i = 0; i < v.size(); ++i) s += (i ? "," : "") + std::to_string(v[i]);
    return s;
}
}  // namespace

uint16_t Unit::ExtensionWord(uint16_t extension) const {
    std::lock_guard lock(mutex_);
    auto it = blocks_.find({extension, 9});
    return it != blocks_.end() && it->second.size() >= 2 ? GetU16(it->second, 0) : 0;
}

std::vector<uint16_t> Unit::ExtensionList(uint16_t extension) const {
    std::lock_guard lock(mutex_);
    auto it = blocks_.find({extension, 10});
    return it != blocks_.end() ? NonZeroWords(it->second) : std::vector<uint16_t>{};
}

std::vector<uint16_t> Unit::ConfiguredList() const {
    std::lock_guard lock(mutex_);
    auto it = blocks_.find({10, 35});
    return it != blocks_.end() ? NonZeroWords(it->second) : std::vector<uint16_t>{};
}

std::vector<BlockWrite> Unit::Writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

std::string Unit::DescribeExtensions() const {
    const std::vector<uint16_t> list = ConfiguredList();
    std::map<uint16_t, bool> shown;
    for (auto e : list) shown[e] = true;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [key, data] : blocks_)
            if (ExtensionBlock(key.first) && (key.second == 9 || key.second == 10))
                shown[key.first] = true;
    }
    std::string s = "list=" + Join(list);
    for (const auto& [e, _] : shown) {
        char word[8];
        std::snprintf(word, sizeof word, "%04X", unsigned{ExtensionWord(e)});
        s += " " + std::to_string(e) + "=0x" + word + ":" + Join(ExtensionList(e));
    }
    return s;
}

bool Unit::PasswordMatches(const std::string& latin1) const { return latin1 == passwordLatin1_; }

std::optional<std::string> Unit::Document(uint16_t code) const {
    std::lock_guard lock(mutex_);
    if (auto it = documents_.find(code); it != documents_.end()) return it->second;
    return std::nullopt;
}

Bytes Unit::SdCardVolume() const {
    std::lock_guard lock(mutex_);
    Bytes b;
    AppendI64(b, sdTotal_);
    AppendI64(b, sdFree_);
    AppendI64(b, sdUsed_);
    b.resize(32, 0);
    return b;
}

void Unit::SetSdCard(int64_t total, int64_t free, int64_t used) {
    std::lock_guard lock(mutex_);
    sdTotal_ = total;
    sdFree_ = free;
    sdUsed_ = used;
}

bool Session::Answers(const Request& r) const {
    if (!r.wellFormed) return false;
    if (r.kind == kKindCtrl && r.command == kCtrlLogin) return true;
    return loggedIn_;
}

std::vector<std::string> Session::Names(const Request& r) {
    std::vector<std::string> n;
    auto bi = std::to_string(r.block) + "/" + std::to_string(r.index);
    if (r.kind == kKindProg) {
        if (r.command == kProgRead) {
            n = {"read", "read:" + bi, "read:*/" + std::to_string(r.index)};
            static const std::pair<std::pair<int, int>, const char*> kAliases[] = {
                {{102, 0}, "version"},   {{102, 2}, "release"},  {{19, 1}, "params"},
                {{2, 0}, "dnsnames"},    {{2, 3}, "dnsindexes"}, {{9, 5}, "agenda"},
                {{9, 15}, "agendalong"}, {{10, 35}, "extlist"}};
            for (auto& [key, alias] : kAliases) {
                if (key.first == r.block && key.second == r.index) n.push_back(alias);
            }
        } else if (r.command == kProgWrite) {
            n = {"write", "write:" + bi, "write:*/" + std::to_string(r.index)};
        } else {
            n = {"other"};
        }
    } else if (r.kind == kKindCtrl) {
        if (r.command == kCtrlLogin) {
            n = {"login"};
        } else if (r.command == kCtrlXml) {
            n = {"xml", "xml:" + std::to_string(r.subCode)};
        } else if (r.command == kCtrlSdCard) {
            n = {"sdcard"};
        } else if (r.command == kCtrlRecordings) {
            switch (GetU16(r.payload, 0)) {
                case 0: n = {"access"}; break;
                case 1: n = {"usb"}; break;
                case 2: n = {"remove"}; break;
                default: n = {"other"};
            }
        } else {
            n = {"other"};
        }
    }
    return n;
}

Bytes Session::Refusal(const Request& r, uint16_t result) const {
    if (r.kind == kKindProg) return CtrlReplyFrame(CtrlReplyCommand(r.command), result, r.block);
    // Never command 9: a client reading the agenda document takes any command-9
    // frame for the document itself.
    return CtrlReplyFrame(CtrlReplyCommand(r.command), result, r.subCode);
}

Bytes Session::WrongAck(const Request& r) const {
    if (r.kind == kKindProg) return ProgAckFrame(static_cast<uint16_t>(r.block + 1), r.index);
    if (r.command == kCtrlLogin) return ProgAckFrame(kSubLogin + 1, 0);
    return CtrlReplyFrame(CtrlReplyCommand(r.command), 1, static_cast<uint16_t>(r.subCode + 1));
}

std::vector<Bytes> Session::Handle(const Request& r) {
    if (!Answers(r)) return {};
    if (r.kind == kKindProg) {
        if (r.command == kProgRead) {
            if (auto data = unit_.ReadBlock(r.block, r.index))
                return {ProgDataReply(r.block, r.index, *data)};
            return {Refusal(r, 4)};
        }
        if (r.command == kProgWrite) {
            // The word count must state the payload it comes with.
            if (r.payload.size() % 2 == 0 && r.wordCount == r.payload.size() / 2 &&
                unit_.WriteBlock(r.block, r.index, r.payload))
                return {ProgAckFrame(r.block, r.index)};
            return {Refusal(r, 4)};
        }
        return {};
    }
    // CTRL
    switch (r.command) {
        case kCtrlLogin: {
            // "KelvMonitor," and the password, each character as two bytes (code, 0).
            std::string text;
            for (size_t i = 0; i + 1 < r.payload.size(); i += 2)
                text.push_back(static_cast<char>(r.payload[i]));
            while (!text.empty() && text.back() == '\0') text.pop_back();
            const std::string prefix = "KelvMonitor,";
            if (text.rfind(prefix, 0) == 0 && unit_.PasswordMatches(text.substr(prefix.size()))) {
                loggedIn_ = true;
                return {ProgAckFrame(kSubLogin, 0),
                        CtrlReplyFrame(CtrlReplyCommand(kCtrlLogin), 1, kSubLogin)};
            }
            return {CtrlReplyFrame(CtrlReplyCommand(kCtrlLogin), 4, kSubLogin)};
        }
        case kCtrlXml:
            if (auto doc = unit_.Document(r.subCode)) return {XmlReplyFrame(r.subCode, *doc)};
            return {CtrlReplyFrame(CtrlReplyCommand(kCtrlXml), 2, r.subCode)};
        case kCtrlSdCard:
            return {CtrlReplyFrame(CtrlReplyCommand(kCtrlSdCard), 1, kSubRecordings,
                                   unit_.SdCardVolume())};
        case kCtrlRecordings: return {HandleRecordings(r)};
        default: return {CtrlReplyFrame(CtrlReplyCommand(r.command), 2, r.subCode)};
    }
}

Bytes Session::HandleRecordings(const Request& r) {
    uint16_t result = 2;
    switch (GetU16(r.payload, 0)) {
        case 0:  // access: word 0, word 0xFFFF, byte 1 open / 0 close
            accessOpen_ = r.payload.size() > 4 && r.payload[4] != 0;
            result = 1;
            break;
        case 1:  // USB reconnection
            result = 1;
            break;
        case 2: {  // removal: word 2, word 0xFFFF, the path, a zero byte
            if (!accessOpen_) {
                result = kRefused;
                break;
            }
            std::string path;
            if (r.payload.size() > 4) path.assign(r.payload.begin() + 4, r.payload.end());
            result = static_cast<uint16_t>(unit_.store().Remove(path));
            break;
        }
        default: result = 2;
    }
    return CtrlReplyFrame(CtrlReplyCommand(kCtrlRecordings), result, kSubRecordings);
}

}  // namespace pabxsim
