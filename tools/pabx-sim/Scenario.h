#pragma once
// What a simulated unit holds: password, version, model, extension directory,
// SD-card figures, extension recording settings, extra blocks and documents,
// faults. Read from a scenario file (format in README.md) or filled in code.
#include <cstdint>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/pabx-sim/Frame.h"

namespace pabxsim {

struct DnsName {
    bool disabled = false;  // bit 0 of the record's flag word
    std::string name;       // UTF-8
};

struct DnsIndex {
    uint32_t type = 2;
    uint16_t number = 0;
    uint16_t nameIndex = 0;
};

struct AgendaEntry {
    uint16_t number = 0;
    std::string shortName;  // UTF-8; the agenda document's second child
    std::string longName;   // UTF-8; the name of the agenda blocks
};

// Which agenda forms the unit answers: only the one its model implies (as a
// unit of that model would), or all three.
enum class AgendaForms { ByModel, All };

struct Scenario {
    std::string password = "1234";
    uint16_t versionMajor = 3;
    uint16_t versionMinor = 16;
    uint16_t release = 50;
    std::string model = "NORVIKA";
    Bytes parameters;             // base of block 19/1 (128 bytes); the model is written over it
    std::filesystem::path store;  // the folder that holds NORVIKA/AUDIOREC
    AgendaForms agendaForms = AgendaForms::ByModel;
    int64_t sdTotal = 8'000'000'000;
    int64_t sdFree = 6'000'000'000;
    int64_t sdUsed = 2'000'000'000;
    std::vector<DnsName> dnsNames;
    std::vector<DnsIndex> dnsIndexes;
    std::vector<AgendaEntry> agenda;
    std::vector<uint16_t> extensionList;                       // block 10/35
    std::map<uint16_t, uint16_t> extensionParams;              // block n/9
    std::map<uint16_t, std::vector<uint16_t>> extensionLists;  // block n/10
    std::map<std::pair<uint16_t, uint16_t>, Bytes> blocks;     // any other block
    std::map<uint16_t, std::string> documents;                 // XML by code (UTF-8)
    std::vector<std::string> faults;                           // fault rules
};

struct ScenarioError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Relative paths (store, documents) are taken from `baseDir`.
Scenario ParseScenario(std::string_view text, const std::filesystem::path& baseDir);
Scenario LoadScenario(const std::filesystem::path& file);

}  // namespace pabxsim
