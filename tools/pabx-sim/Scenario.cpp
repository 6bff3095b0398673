#include "tools/pabx-sim/Scenario.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

namespace pabxsim {
namespace {

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return std::string(s.substr(b, e - b));
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> Split(std::string_view s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t p = s.find(sep, start);
        out.push_back(Trim(
            s.substr(start, p == std::string_view::npos ? std::string_view::npos : p - start)));
        if (p == std::string_view::npos) break;
        start = p + 1;
    }
    return out;
}

template <typename T> T Number(const std::string& text, const std::string& where) {
    T v{};
    std::string t = Trim(text);
    int base = 10;
    const char* b = t.data();
    const char* e = t.data() + t.size();
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        b += 2;
    }
    auto [p, ec] = std::from_chars(b, e, v, base);
    if (ec != std::errc() || p != e || b == e)
        throw ScenarioError(where + ": not a number: \"" + t + "\"");
    return v;
}

std::vector<uint16_t> NumberList(const std::string& text, const std::string& where) {
    std::vector<uint16_t> out;
    if (Trim(text).empty()) return out;
    for (const auto& item : Split(text, ',')) out.push_back(Number<uint16_t>(item, where));
    return out;
}

std::filesystem::path Resolve(const std::filesystem::path& baseDir, const std::string& p) {
    std::filesystem::path path(p);
    return path.is_absolute() ? path : baseDir / path;
}

void PabxKey(Scenario& s, const std::string& key, const std::string& value,
             const std::string& where, const std::filesystem::path& baseDir) {
    if (key == "password") {
        s.password = value;
    } else if (key == "version") {
        auto parts = Split(value, '.');
        if (parts.size() < 2 || parts.size() > 3)
            throw ScenarioError(where + ": version is major.minor[.release]");
        s.versionMajor = Number<uint16_t>(parts[0], where);
        s.versionMinor = Number<uint16_t>(parts[1], where);
        if (parts.size() == 3) s.release = Number<uint16_t>(parts[2], where);
    } else if (key == "release") {
        s.release = Number<uint16_t>(value, where);
    } else if (key == "model") {
        s.model = value;
    } else if (key == "parameters") {
        try {
            s.parameters = FromHex(value);
        } catch (const std::invalid_argument& e) {
            throw ScenarioError(where + ": " + e.what());
        }
    } else if (key == "store") {
        s.store = Resolve(baseDir, value);
    } else if (key == "agenda") {
        std::string v = Lower(value);
        if (v == "model")
            s.agendaForms = AgendaForms::ByModel;
        else if (v == "all")
            s.agendaForms = AgendaForms::All;
        else
            throw ScenarioError(where + ": agenda is \"model\" or \"all\"");
    } else {
        throw ScenarioError(where + ": unknown key \"" + key + "\"");
    }
}

}  // namespace

Scenario ParseScenario(std::string_view text, const std::filesystem::path& baseDir) {
    Scenario s;
    bool usedGiven = false;
    std::string section;
    std::istringstream in{std::string(text)};
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        std::string t = Trim(line);
        std::string where = "line " + std::to_string(lineNo);
        if (t.empty() || t[0] == ';' || t[0] == '#') continue;
        if (t.front() == '[') {
            if (t.back() != ']') throw ScenarioError(where + ": unclosed section");
            section = Lower(Trim(std::string_view(t).substr(1, t.size() - 2)));
            continue;
        }
        size_t eq = t.find('=');
        if (eq == std::string::npos) throw ScenarioError(where + ": expected key = value");
        std::string key = Lower(Trim(std::string_view(t).substr(0, eq)));
        std::string value = Trim(std::string_view(t).substr(eq + 1));

        if (section == "pabx") {
            PabxKey(s, key, value, where, baseDir);
        } else if (section == "sdcard") {
            if (key == "total")
                s.sdTotal = Number<int64_t>(value, where);
            else if (key == "free")
                s.sdFree = Number<int64_t>(value, where);
            else if (key == "used")
                s.sdUsed = Number<int64_t>(value, where), usedGiven = true;
            else
                throw ScenarioError(where + ": unknown key \"" + key + "\"");
        } else if (section == "dns-names") {
            // <record> = <flag>, <name>; records are kept in file order.
            auto parts = Split(value, ',');
            if (parts.size() < 2) throw ScenarioError(where + ": expected flag, name");
            DnsName n;
            n.disabled = Number<unsigned>(parts[0], where) & 1;
            n.name = Trim(std::string_view(value).substr(value.find(',') + 1));
            s.dnsNames.push_back(n);
        } else if (section == "dns-indexes") {
            // <extension> = <type>, <name index>
            auto parts = Split(value, ',');
            if (parts.size() != 2) throw ScenarioError(where + ": expected type, name index");
            s.dnsIndexes.push_back({Number<uint32_t>(parts[0], where), Number<uint16_t>(key, where),
                                    Number<uint16_t>(parts[1], where)});
        } else if (section == "agenda") {
            // <extension> = <short name> | <long name>
            AgendaEntry a;
            a.number = Number<uint16_t>(key, where);
            size_t bar = value.find('|');
            a.shortName = Trim(std::string_view(value).substr(0, bar));
            a.longName = bar == std::string::npos ? a.shortName
                                                  : Trim(std::string_view(value).substr(bar + 1));
            s.agenda.push_back(a);
        } else if (section == "extensions") {
            if (key == "list")
                s.extensionList = NumberList(value, where);
            else
                throw ScenarioError(where + ": unknown key \"" + key + "\"");
        } else if (section.rfind("extension.", 0) == 0) {
            auto ext = Number<uint16_t>(section.substr(10), where);
            if (key == "param")
                s.extensionParams[ext] = Number<uint16_t>(value, where);
            else if (key == "list")
                s.extensionLists[ext] = NumberList(value, where);
            else
                throw ScenarioError(where + ": unknown key \"" + key + "\"");
        } else if (section == "blocks") {
            // <block>/<index> = hex bytes
            auto parts = Split(key, '/');
            if (parts.size() != 2) throw ScenarioError(where + ": expected block/index");
            try {
                s.blocks[{Number<uint16_t>(parts[0], where), Number<uint16_t>(parts[1], where)}] =
                    FromHex(value);
            } catch (const std::invalid_argument& e) {
                throw ScenarioError(where + ": " + e.what());
            }
        } else if (section == "documents") {
            auto code = Number<uint16_t>(key, where);
            std::ifstream f(Resolve(baseDir, value), std::ios::binary);
            if (!f) throw ScenarioError(where + ": cannot read " + value);
            std::ostringstream body;
            body << f.rdbuf();
            s.documents[code] = body.str();
        } else if (section == "faults") {
            s.faults.push_back(value);
        } else {
            throw ScenarioError(where + ": key outside a known section");
        }
    }
    if (!usedGiven) s.sdUsed = s.sdTotal - s.sdFree;
    return s;
}

Scenario LoadScenario(const std::filesystem::path& file) {
    std::ifstream f(file, std::ios::binary);
    if (!f) throw ScenarioError("cannot read scenario " + file.string());
    std::ostringstream text;
    text << f.rdbuf();
    auto base = file.parent_path();
    if (base.empty()) base = ".";
    try {
        return ParseScenario(text.str(), base);
    } catch (const ScenarioError& e) {
        throw ScenarioError(file.string() + ": " + e.what());
    }
}

}  // namespace pabxsim
