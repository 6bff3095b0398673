// make-recordings output, checked by an independent WAV reader (sox) and an
// XML parser; and the scenario file format.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>

#include "TestSupport.h"
#include "tools/pabx-sim/Recordings.h"
#include "tools/pabx-sim/Scenario.h"
#include "tools/pabx-sim/Unit.h"

namespace fs = std::filesystem;

namespace pabxsim {
namespace {

std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

std::string ReadAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

TEST(MakeRecordings, WavFilesSatisfySoxAndDescriptionsParse) {
    PastaTemporaria dir;
    fs::path store = dir.Caminho() / "sd";
    std::string out = RunCommand(std::string(PABXSIM_BIN) + " make-recordings --store '" +
                                 store.string() + "' --count 40 --seed 7 2>&1");
    ASSERT_NE(out.find("pabx-sim:"), std::string::npos) << out;

    int wav = 0, empty = 0, xml = 0, withoutAudio = 0;
    std::set<std::string> types, folders;
    for (auto& e : fs::recursive_directory_iterator(store)) {
        if (!e.is_regular_file()) continue;
        fs::path p = e.path();
        fs::path rel = fs::relative(p, store);
        auto it = rel.begin();
        ASSERT_EQ(*it++, "NORVIKA");
        ASSERT_EQ(*it++, "AUDIOREC");
        std::string l1 = (it++)->string(), l2 = (it++)->string();
        EXPECT_EQ(l1.size(), 8u);
        EXPECT_EQ(l2.size(), 8u);
        folders.insert(l1 + "/" + l2);
        std::string name = p.filename().string();
        ASSERT_EQ(name.size(), 12u) << name;
        EXPECT_EQ(name[0], 'R');
        if (p.extension() == ".WAV") {
            ++wav;
            if (fs::file_size(p) == 0) {
                ++empty;
                continue;
            }
            std::string info = RunCommand("sox --i '" + p.string() + "' 2>&1");
            EXPECT_NE(info.find("Sample Rate    : 8000"), std::string::npos) << info;
            EXPECT_NE(info.find("Channels       : 1"), std::string::npos) << info;
            EXPECT_NE(info.find("A-law"), std::string::npos) << info;
            std::string bytes = ReadAll(p);
            ASSERT_GT(bytes.size(), 44u);
            uint32_t dataSize = 0;
            std::memcpy(&dataSize, bytes.data() + 40, 4);
            EXPECT_EQ(dataSize + 44, bytes.size()) << "canonical header, data right behind it";
            EXPECT_EQ(bytes.substr(36, 4), "data");
        } else {
            ASSERT_EQ(p.extension(), ".XML");
            ++xml;
            pugi::xml_document doc;
            ASSERT_TRUE(doc.load_file(p.c_str())) << p;
            auto root = doc.document_element();
            for (const char* required : {"ramalcomanda", "ramalgravado", "nomedestino", "codconta",
                                         "tipoligacao", "iniciogravacao"}) {
                EXPECT_TRUE(root.child(required)) << required << " in " << p;
            }
            types.insert(root.child("tipoligacao").text().get());
            EXPECT_GT(root.child("iniciogravacao").text().as_llong(), 1'700'000'000);
            bool hasAudio = ReadAll(p).find("<audio>") != std::string::npos;
            if (!hasAudio || std::string(root.child("audio").text().get()) != "sim") ++withoutAudio;
        }
    }
    // Of 40 items: two each of empty WAV, XML only, WAV only, no <audio>, audio "nao".
    EXPECT_EQ(wav, 38);
    EXPECT_EQ(xml, 38);
    EXPECT_EQ(empty, 2);
    EXPECT_EQ(withoutAudio, 4);
    EXPECT_EQ(types, (std::set<std::string>{"INTERNA", "SAIDA", "ENTRADA"}));
    EXPECT_GT(folders.size(), 3u);

    // The same seed gives the same store.
    fs::path again = dir.Caminho() / "again";
    auto sum = MakeRecordings(again, 40, 7);
    EXPECT_EQ(sum.wavFiles.size(), 38u);
    for (const auto& f : sum.wavFiles)
        EXPECT_EQ(ReadAll(f), ReadAll(store / fs::relative(f, again)));
}

TEST(MakeRecordings, ALawEncoderMatchesTheG711Table) {
    EXPECT_EQ(LinearToALaw(0), 0xD5);
    EXPECT_EQ(LinearToALaw(-1), 0x55);
    EXPECT_EQ(LinearToALaw(32767), 0xAA);
    EXPECT_EQ(LinearToALaw(-32768), 0x2A);
    EXPECT_EQ(LinearToALaw(1000), 0xFA);
}

TEST(ScenarioFile, ReadsEverySectionAndRejectsMistakes) {
    PastaTemporaria dir;
    std::ofstream(dir.Caminho() / "doc.xml") << "<d/>";
    const char* text = R"(
; a unit of the test bench
[pabx]
password = abc
version = 3.16.50
model = TK506_4M
store = sd
agenda = all
[sdcard]
total = 1000
free = 400
[dns-names]
0 = 0, Recepção
1 = 1, Off, with comma
[dns-indexes]
1001 = 45, 0
[agenda]
1001 = Rec | Recepção
3001 = Só
[extensions]
list = 1001, 1002
[extension.1001]
param = 0x0007
list = 1002
[blocks]
30/1 = 01 02 03
[documents]
40 = doc.xml
[faults]
a = remove refuse nth=2
)";
    Scenario s = ParseScenario(text, dir.Caminho());
    EXPECT_EQ(s.password, "abc");
    EXPECT_EQ(s.versionMajor, 3);
    EXPECT_EQ(s.versionMinor, 16);
    EXPECT_EQ(s.release, 50);
    EXPECT_EQ(s.store, dir.Caminho() / "sd");
    EXPECT_EQ(s.agendaForms, AgendaForms::All);
    EXPECT_EQ(s.sdUsed, 600);
    ASSERT_EQ(s.dnsNames.size(), 2u);
    EXPECT_EQ(s.dnsNames[0].name, "Recepção");
    EXPECT_TRUE(s.dnsNames[1].disabled);
    EXPECT_EQ(s.dnsNames[1].name, "Off, with comma");
    ASSERT_EQ(s.dnsIndexes.size(), 1u);
    EXPECT_EQ(s.dnsIndexes[0].type, 45u);
    ASSERT_EQ(s.agenda.size(), 2u);
    EXPECT_EQ(s.agenda[0].longName, "Recepção");
    EXPECT_EQ(s.agenda[1].longName, "Só");
    EXPECT_EQ(s.extensionList, (std::vector<uint16_t>{1001, 1002}));
    EXPECT_EQ(s.extensionParams.at(1001), 7);
    EXPECT_EQ(s.blocks.at({30, 1}), FromHex("010203"));
    EXPECT_EQ(s.documents.at(40), "<d/>");
    EXPECT_EQ(s.faults, (std::vector<std::string>{"remove refuse nth=2"}));
    EXPECT_EQ(AgendaKindForModel(s.model), AgendaKind::Xml);

    for (const char* bad :
         {"[pabx]\nversion = 3\n", "[pabx]\ncolour = red\n", "[sdcard]\ntotal = lots\n",
          "[blocks]\n30/1 = 0G\n", "[pabx\n", "key = value\n", "[documents]\n1 = missing.xml\n",
          "[pabx]\nparameters = 0\n"}) {
        EXPECT_THROW(ParseScenario(bad, dir.Caminho()), ScenarioError) << bad;
    }
}

TEST(ScenarioFile, TheShippedExampleLoads) {
    fs::path example = fs::path(PABXSIM_SOURCE_DIR) / "example.ini";
    Scenario s = LoadScenario(example);
    EXPECT_EQ(s.store, example.parent_path() / "store");
    EXPECT_EQ(AgendaKindForModel(s.model), AgendaKind::Long);
    EXPECT_FALSE(s.dnsIndexes.empty());
    Unit unit(s);
    EXPECT_TRUE(unit.ReadBlock(9, 15).has_value());
}

}  // namespace
}  // namespace pabxsim
