// The simulator driven over real sockets: every request kind gets the bytes a
// client's reply handler reads, state is per session where it should be and
// shared where it should be, and the frames log holds what was sent.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cstring>
#include <fstream>
#include <functional>
#include <thread>

#include "TestSupport.h"
#include "tools/pabx-sim/Simulator.h"

namespace pabxsim {
namespace {

using test::RawClient;

Scenario TestScenario(const std::filesystem::path& store,
                      const std::string& model = "orval500 plus") {
    Scenario s;
    s.password = "4321";
    s.versionMajor = 3;
    s.versionMinor = 5;
    s.release = 7;
    s.model = model;
    s.store = store;
    s.sdTotal = 16'000'000'000;
    s.sdFree = 15'000'000'000;
    s.sdUsed = 1'000'000'000;
    s.dnsNames = {{false, "Recepcao"}, {true, "Oculto"}, {false, "NomeMuitoLongoDemais"}};
    s.dnsIndexes = {{2, 1001, 0}, {45, 1005, 1}, {45, 3001, 2}};
    s.agenda = {{1001, "Rec", "Recepção principal"}, {3001, "Ponte", "bridge "}};
    s.extensionList = {1001, 1002};
    s.extensionParams = {{1001, 7}};
    s.extensionLists = {{1001, {1002, 1003}}};
    return s;
}

// A name field as the client takes it: up to its first NUL.
std::string Field(const Bytes& f, size_t at, size_t width) {
    std::string s;
    for (size_t i = at; i < at + width && i < f.size() && f[i] != 0; ++i)
        s.push_back(static_cast<char>(f[i]));
    return s;
}

class SimulatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        store_ = dir_.Caminho() / "store";
        std::filesystem::create_directories(store_ / "NORVIKA" / "AUDIOREC");
        Start(TestScenario(store_));
    }

    void Start(const Scenario& s, SimulatorOptions opt = {}) {
        sim_.reset();
        sim_ = std::make_unique<Simulator>(s, opt);
        sim_->Start();
    }

    std::unique_ptr<RawClient> LoggedIn() {
        auto c = std::make_unique<RawClient>(sim_->Port());
        EXPECT_TRUE(c->Login("4321"));
        return c;
    }

    PastaTemporaria dir_;
    std::filesystem::path store_;
    std::unique_ptr<Simulator> sim_;
};

TEST_F(SimulatorTest, LoginAnswersAckThenResultOneAndNothingBeforeIt) {
    RawClient c(sim_->Port());
    c.Send(test::ProgRead(102, 0));
    EXPECT_TRUE(c.Drain(300, 300).empty()) << "a unit answers nothing before a login";

    c.Send(test::LoginRequest("wrong"));
    Bytes refused = c.Frame();
    EXPECT_EQ(Hex(refused), "55 0A 00 06 00 83 00 04 00 15 27 00 00");
    c.Send(test::ProgRead(102, 0));
    EXPECT_TRUE(c.Drain(300, 300).empty()) << "a refused login leaves the session locked";

    c.Send(test::LoginRequest("4321"));
    EXPECT_EQ(Hex(c.Frame()), "55 0C 00 03 00 05 80 01 00 15 27 00 00 00 00");
    EXPECT_EQ(Hex(c.Frame()), "55 0A 00 06 00 83 00 01 00 15 27 00 00");
    c.Send(test::ProgRead(102, 0));
    EXPECT_FALSE(c.Frame().empty());
}

TEST_F(SimulatorTest, VersionReleaseAndParametersAsTheHandlersReadThem) {
    auto c = LoggedIn();
    c->Send(test::ProgRead(102, 0));
    Bytes v = c->Frame();
    ASSERT_EQ(v.size(), 19u);
    EXPECT_EQ(GetU16(v, 5), kProgDataReply);
    EXPECT_EQ(GetU16(v, 9), 102);
    EXPECT_EQ(GetU16(v, 11), 0);
    EXPECT_EQ(GetU16(v, 15), 3);
    EXPECT_EQ(GetU16(v, 17), 5);

    c->Send(test::ProgReadLong(102, 2));  // the console's 13-byte read form
    Bytes r = c->Frame();
    ASSERT_EQ(r.size(), 17u);
    EXPECT_EQ(GetU16(r, 11), 2);
    EXPECT_EQ(GetU16(r, 15), 7);

    c->Send(test::ProgRead(19, 1));
    Bytes p = c->Frame();
    ASSERT_EQ(p.size(), 143u);
    EXPECT_EQ(GetU16(p, 13), 64);  // data length in words
    EXPECT_EQ(Field(p, 97, 20), "orval500 plus");
}

TEST_F(SimulatorTest, DnsNameAndIndexRecords) {
    auto c = LoggedIn();
    c->Send(test::ProgRead(2, 0));
    Bytes n = c->Frame();
    ASSERT_EQ(n.size(), 15u + 3 * 16);
    EXPECT_EQ(GetU16(n, 15 + 2) & 1, 0);
    EXPECT_EQ(Field(n, 15 + 4, 12), "Recepcao");
    EXPECT_EQ(GetU16(n, 15 + 16 + 2) & 1, 1);
    EXPECT_EQ(Field(n, 15 + 32 + 4, 12), "NomeMuitoLon") << "cut to the 12-byte field";

    c->Send(test::ProgRead(2, 3));
    Bytes x = c->Frame();
    ASSERT_EQ(x.size(), 15u + 3 * 16);
    size_t rec = 15 + 16;  // second record
    EXPECT_EQ(GetU16(x, rec) | (GetU16(x, rec + 2) << 16), 45);
    EXPECT_EQ(GetU16(x, rec + 4), 1005);
    EXPECT_EQ(GetU16(x, rec + 12), 1);
}

TEST_F(SimulatorTest, AgendaFormFollowsTheModel) {
    struct Case {
        std::string model;
        bool shortForm, longForm, document;
    };
    const Case cases[] = {
        {"orval500 plus", false, true, false}, {"XX BRELVO", false, false, true},
        {"tk506_4m", false, false, true},      {"ORVAL500 BRELVO", false, true, false},
        {"NORVIKA 200", true, false, false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.model);
        Start(TestScenario(store_, k.model));
        auto c = LoggedIn();
        c->Send(test::ProgRead(9, 5));
        Bytes s = c->Frame();
        EXPECT_EQ(GetU16(s, 5) == kProgDataReply, k.shortForm);
        c->Send(test::ProgRead(9, 15));
        Bytes l = c->Frame();
        EXPECT_EQ(GetU16(l, 5) == kProgDataReply, k.longForm);
        c->Send(test::CtrlRequest(kCtrlXml, 26));
        Bytes d = c->Frame();
        EXPECT_EQ(GetU16(d, 5) == kCtrlXml, k.document);
        if (!k.document) {
            EXPECT_EQ(GetU16(d, 5), 0x89) << "a refusal never looks like a document";
        }
    }
}

TEST_F(SimulatorTest, AgendaRecordsAndDocumentInLatin1) {
    Scenario s = TestScenario(store_);
    s.agendaForms = AgendaForms::All;
    Start(s);
    auto c = LoggedIn();

    c->Send(test::ProgRead(9, 5));
    Bytes a = c->Frame();
    ASSERT_EQ(a.size(), 15u + 2 * 34);
    EXPECT_EQ(GetU16(a, 15), 1001);
    EXPECT_EQ(Field(a, 15 + 4, 30), "Recep\xE7\xE3o principal");
    EXPECT_EQ(GetU16(a, 15 + 34), 3001);

    c->Send(test::ProgRead(9, 15));
    Bytes l = c->Frame();
    ASSERT_EQ(l.size(), 15u + 2 * 48);
    EXPECT_EQ(GetU16(l, 15 + 48), 3001);
    EXPECT_EQ(Field(l, 15 + 48 + 4, 32), "bridge ");

    c->Send(test::CtrlRequest(kCtrlXml, 26));
    Bytes d = c->Frame();
    ASSERT_GT(d.size(), 23u);
    EXPECT_EQ(GetU16(d, 7), 1);
    EXPECT_EQ(GetU16(d, 9), 26);
    EXPECT_EQ(Bytes(d.end() - 10, d.end()), Bytes(10, 0));
    std::string text(d.begin() + 13, d.end() - 10);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(text.data(), text.size()));  // honours encoding="ISO-8859-1"
    auto list = doc.select_node("/zirurezuverizizir/idramais").node();
    ASSERT_TRUE(list);
    std::vector<std::array<std::string, 3>> entries;
    for (auto e : list.children()) {
        auto n = e.first_child();
        auto sn = n.next_sibling();
        auto ln = sn.next_sibling();
        entries.push_back({n.text().get(), sn.text().get(), ln.text().get()});
    }
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0][0], "1001");
    EXPECT_EQ(entries[0][1], "Rec");
    EXPECT_EQ(entries[0][2], "Recepção principal");
}

TEST_F(SimulatorTest, OtherDocumentsAndUnknownCodes) {
    Scenario s = TestScenario(store_);
    s.documents[40] = "<x>ação</x>";
    Start(s);
    auto c = LoggedIn();
    c->Send(test::CtrlRequest(kCtrlXml, 40));
    Bytes d = c->Frame();
    EXPECT_EQ(std::string(d.begin() + 13, d.end() - 10), "<x>a\xE7\xE3o</x>");
    c->Send(test::CtrlRequest(kCtrlXml, 41));
    EXPECT_EQ(Hex(c->Frame()), "55 0A 00 06 00 89 00 02 00 29 00 00 00");
}

TEST_F(SimulatorTest, ExtensionBlocksAreKeptAndSharedBetweenSessions) {
    auto a = LoggedIn();
    a->Send(test::ProgReadLong(1001, 9));
    Bytes p = a->Frame();
    EXPECT_EQ(Bytes(p.begin() + 15, p.end()), FromHex("07 00 00 00"));
    a->Send(test::ProgReadLong(1001, 10));
    Bytes l = a->Frame();
    EXPECT_EQ(Bytes(l.begin() + 15, l.end()), FromHex("EA 03 EB 03"));
    a->Send(test::ProgReadLong(1999, 9));
    Bytes unset = a->Frame();
    EXPECT_EQ(Bytes(unset.begin() + 15, unset.end()), FromHex("00 00 00 00"));

    a->Send(test::ProgWrite(1005, 9, FromHex("07 00 00 00")));
    EXPECT_EQ(Hex(a->Frame()), Hex(ProgAckFrame(1005, 9)));
    a->Send(test::ProgWrite(10, 35, FromHex("E9 03 ED 03")));
    EXPECT_EQ(Hex(a->Frame()), Hex(ProgAckFrame(10, 35)));

    auto b = LoggedIn();
    b->Send(test::ProgReadLong(1005, 9));
    Bytes w = b->Frame();
    EXPECT_EQ(Bytes(w.begin() + 15, w.end()), FromHex("07 00 00 00"));
    b->Send(test::ProgReadLong(10, 35));
    Bytes list = b->Frame();
    EXPECT_EQ(Bytes(list.begin() + 15, list.end()), FromHex("E9 03 ED 03"));

    b->Send(test::ProgWrite(102, 0, FromHex("09 00 09 00")));
    EXPECT_EQ(Hex(b->Frame()), "55 0A 00 06 00 85 00 04 00 66 00 00 00")
        << "version is not writable";
    b->Send(test::ProgRead(77, 1));
    EXPECT_EQ(Hex(b->Frame()), "55 0A 00 06 00 84 00 04 00 4D 00 00 00") << "unknown block";
}

TEST_F(SimulatorTest, SdCardVolumeAndRecordingsControl) {
    auto c = LoggedIn();
    c->Send(test::CtrlRequest(kCtrlSdCard, 0x8C));
    Bytes v = c->Frame();
    ASSERT_EQ(v.size(), 45u);
    EXPECT_EQ(GetU16(v, 5), 0x190);
    EXPECT_EQ(GetU16(v, 7), 1);
    EXPECT_EQ(v[9], 0x8C);
    int64_t total = 0, free = 0, used = 0;
    std::memcpy(&total, &v[13], 8);
    std::memcpy(&free, &v[21], 8);
    std::memcpy(&used, &v[29], 8);
    EXPECT_EQ(total, 16'000'000'000);
    EXPECT_EQ(free, 15'000'000'000);
    EXPECT_EQ(used, 1'000'000'000);

    c->Send(test::AccessRequest(true));
    EXPECT_EQ(Hex(c->Frame()), "55 0A 00 06 00 82 00 01 00 8C 00 00 00");
    c->Send(test::UsbRequest());
    EXPECT_EQ(Hex(c->Frame()), "55 0A 00 06 00 82 00 01 00 8C 00 00 00");
    c->Send(test::AccessRequest(false));
    EXPECT_EQ(Hex(c->Frame()), "55 0A 00 06 00 82 00 01 00 8C 00 00 00");
}

TEST_F(SimulatorTest, FramesLogHoldsEveryReceivedFrameInHex) {
    auto log = dir_.Caminho() / "frames.log";
    SimulatorOptions opt;
    opt.framesLog = log;
    opt.keepFrames = true;
    Start(TestScenario(store_), opt);
    std::vector<Bytes> sent = {test::ProgRead(19, 1), test::LoginRequest("4321"),
                               test::ProgRead(19, 1), test::CtrlRequest(kCtrlSdCard, 0x8C)};
    {
        RawClient c(sim_->Port());
        // Junk between frames and one frame split over two writes must not show.
        c.Send({0x01, 0x02});
        for (const auto& f : sent) {
            c.Send(Bytes(f.begin(), f.begin() + 4));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            c.Send(Bytes(f.begin() + 4, f.end()));
        }
        c.Drain();
    }
    sim_->Stop();
    EXPECT_EQ(sim_->ReceivedFrames(), sent);
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(lines[i], Hex(sent[i]));
    EXPECT_EQ(lines[0], "55 08 00 03 00 04 00 13 00 01 00");
}

TEST_F(SimulatorTest, ConcurrentSessionsDoNotInterfere) {
    constexpr int kSessions = 8;
    constexpr int kRounds = 40;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kSessions; ++t) {
        threads.emplace_back([&, t] {
            RawClient c(sim_->Port());
            // Odd sessions first fail a login; that must not unlock or lock anyone else.
            if (t % 2) {
                c.Send(test::LoginRequest("nope"));
                if (GetU16(c.Frame(), 7) != 4) ++failures;
            }
            if (!c.Login("4321")) {
                ++failures;
                return;
            }
            auto ext = static_cast<uint16_t>(1100 + t);
            for (int i = 0; i < kRounds; ++i) {
                Bytes value;
                AppendU16(value, static_cast<uint16_t>(t * 1000 + i));
                AppendU16(value, 0);
                c.Send(test::ProgWrite(ext, 9, value));
                c.Send(test::ProgRead(102, 0));
                c.Send(test::ProgReadLong(ext, 9));
                Bytes ack = c.Frame(), ver = c.Frame(), back = c.Frame();
                if (ack != ProgAckFrame(ext, 9) || GetU16(ver, 15) != 3 || GetU16(back, 9) != ext ||
                    Bytes(back.begin() + 15, back.end()) != value) {
                    ++failures;
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(sim_->SessionsAccepted(), kSessions);
}

TEST_F(SimulatorTest, StopsCleanlyWithSessionsOpenAndDelayedRepliesPending) {
    sim_->AddFault("read delay=60000");
    auto c = LoggedIn();
    c->Send(test::ProgRead(102, 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto t0 = std::chrono::steady_clock::now();
    sim_->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_TRUE(c->Closed());
}

}  // namespace
}  // namespace pabxsim
