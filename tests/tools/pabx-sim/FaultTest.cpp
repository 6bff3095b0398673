// Fault switches: each one spoils the reply the way it says, only when its
// rule fires, from the scenario, the API or the control port.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cstring>
#include <fstream>
#include <functional>

#include "TestSupport.h"
#include "tools/pabx-sim/Faults.h"
#include "tools/pabx-sim/Simulator.h"

namespace pabxsim {
namespace {

using test::RawClient;

class FaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs_ = dir_.Caminho() / "sd" / "NORVIKA" / "AUDIOREC" / "GR101024" / "X0001010";
        std::filesystem::create_directories(fs_);
        std::ofstream(fs_ / "R0000001.WAV") << "x";
        scenario_.password = "9";
        scenario_.model = "BRELVO";
        scenario_.store = dir_.Caminho() / "sd";
        scenario_.agenda = {{1001, "Um", "Ramal um"}, {1002, "Dois", "Ramal dois"}};
    }

    void Start(std::vector<std::string> faults = {}, SimulatorOptions opt = {}) {
        scenario_.faults = std::move(faults);
        sim_ = std::make_unique<Simulator>(scenario_, opt);
        sim_->Start();
    }

    std::unique_ptr<RawClient> LoggedIn() {
        auto c = std::make_unique<RawClient>(sim_->Port());
        EXPECT_TRUE(c->Login("9"));
        return c;
    }

    PastaTemporaria dir_;
    std::filesystem::path fs_;
    Scenario scenario_;
    std::unique_ptr<Simulator> sim_;
};

TEST_F(FaultTest, EachActionSpoilsTheReplyItsWay) {
    Start();
    Bytes clean;
    {
        auto c = LoggedIn();
        c->Send(test::ProgRead(19, 1));
        clean = c->Frame();
        ASSERT_EQ(clean.size(), 143u);
    }
    struct Case {
        std::string rule;
        std::function<void(RawClient&)> check;
    };
    const Case cases[] = {
        {"params noreply", [](RawClient& c) { EXPECT_TRUE(c.Drain(300, 300).empty()); }},
        {"params delay=400",
         [&](RawClient& c) {
             EXPECT_TRUE(c.Frame(150).empty());
             EXPECT_EQ(c.Frame(3000), clean);
         }},
        {"params refuse",
         [](RawClient& c) { EXPECT_EQ(Hex(c.Frame()), "55 0A 00 06 00 84 00 04 00 13 00 00 00"); }},
        {"params refuse=3", [](RawClient& c) { EXPECT_EQ(GetU16(c.Frame(), 7), 3); }},
        {"params drop", [](RawClient& c) { EXPECT_TRUE(c.Closed()); }},
        {"params split=10",
         [&](RawClient& c) {
             Bytes got;
             while (got.size() < clean.size()) {
                 Bytes more = c.Drain(500);
                 if (more.empty()) break;
                 got.insert(got.end(), more.begin(), more.end());
             }
             EXPECT_EQ(got, clean);
             EXPECT_GE(c.reads(), 4) << "the reply must come in many pieces";
         }},
        {"params junk=6",
         [&](RawClient& c) {
             Bytes got = c.Drain();
             ASSERT_EQ(got.size(), clean.size() + 6);
             for (int i = 0; i < 6; ++i) EXPECT_NE(got[i], kStartByte);
             EXPECT_EQ(Bytes(got.begin() + 6, got.end()), clean);
         }},
        {"params short",
         [&](RawClient& c) {
             Bytes got = c.Drain();
             EXPECT_EQ(got, Bytes(clean.begin(), clean.begin() + 71));
         }},
        {"params malformed",
         [&](RawClient& c) {
             Bytes got = c.Drain();
             ASSERT_EQ(got.size(), clean.size());
             EXPECT_EQ(GetU16(got, 1), 2);
             EXPECT_EQ(Bytes(got.begin() + 3, got.end()), Bytes(clean.begin() + 3, clean.end()));
         }},
        {"params wrongack", [](RawClient& c) { EXPECT_EQ(c.Frame(), ProgAckFrame(20, 1)); }},
        {"params oversize",
         [&](RawClient& c) {
             Bytes f = c.Frame();
             ASSERT_EQ(f.size(), 65538u);
             EXPECT_EQ(GetU16(f, 1), 0xFFFF);
             EXPECT_EQ(Bytes(f.begin() + 15, f.begin() + 143),
                       Bytes(clean.begin() + 15, clean.end()));
         }},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.rule);
        sim_->ClearFaults();
        sim_->AddFault(k.rule);
        auto c = LoggedIn();
        c->Send(test::ProgRead(19, 1));
        k.check(*c);
    }
}

TEST_F(FaultTest, BadXmlIsNotWellFormedAndRefusalHasNoEffect) {
    Start({"xml:26 badxml", "remove refuse", "login wrongack nth=2"});
    auto c = LoggedIn();
    c->Send(test::CtrlRequest(kCtrlXml, 26));
    Bytes d = c->Frame();
    ASSERT_EQ(GetU16(d, 5), kCtrlXml);
    std::string text(d.begin() + 13, d.end() - 10);
    pugi::xml_document doc;
    EXPECT_FALSE(doc.load_buffer(text.data(), text.size()));

    c->Send(test::AccessRequest(true));
    c->Frame();
    c->Send(test::RemovalRequest("0:/NORVIKA/AUDIOREC/GR101024/X0001010/R0000001.WAV"));
    EXPECT_EQ(GetU16(c->Frame(), 7), 4);
    EXPECT_TRUE(std::filesystem::exists(fs_ / "R0000001.WAV"));

    RawClient second(sim_->Port());
    second.Send(test::LoginRequest("9"));
    EXPECT_EQ(second.Frame(), ProgAckFrame(10006, 0))
        << "the second login gets the wrong acknowledgement";
}

TEST_F(FaultTest, NthAndTimesPickWhichRequestsAreHit) {
    Start({"version noreply nth=2", "release delay=1 times=0", "release noreply times=1"});
    auto c = LoggedIn();
    // Silence is waited for briefly, answers generously.
    const bool expected[] = {true, false, true};
    for (bool answer : expected) {
        c->Send(test::ProgRead(102, 0));
        EXPECT_EQ(!c->Frame(answer ? 3000 : 300).empty(), answer);
    }
    c->Send(test::ProgRead(102, 2));
    EXPECT_TRUE(c->Frame(300).empty());
    c->Send(test::ProgRead(102, 2));
    EXPECT_FALSE(c->Frame(3000).empty());
}

TEST_F(FaultTest, ControlPortAddsAndClearsRules) {
    SimulatorOptions opt;
    opt.controlPort = true;
    Start({}, opt);
    ASSERT_NE(sim_->ControlPort(), 0);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(sim_->ControlPort());
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    auto say = [&](const std::string& line) {
        std::string l = line + "\n";
        send(fd, l.data(), l.size(), MSG_NOSIGNAL);
        char buf[256];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
    };
    EXPECT_EQ(say("fault sdcard refuse=5"), "OK\n");
    EXPECT_EQ(say("fault sdcard explode").rfind("ERROR", 0), 0u);
    auto c = LoggedIn();
    c->Send(test::CtrlRequest(kCtrlSdCard, 0x8C));
    EXPECT_EQ(Hex(c->Frame()), "55 0A 00 06 00 90 01 05 00 8C 00 00 00");
    EXPECT_EQ(say("clear"), "OK\n");
    EXPECT_EQ(say("sdcard 100 60 40"), "OK\n");
    c->Send(test::CtrlRequest(kCtrlSdCard, 0x8C));
    Bytes v = c->Frame();
    ASSERT_EQ(v.size(), 45u);
    EXPECT_EQ(v[13], 100);
    EXPECT_EQ(v[21], 60);
    EXPECT_EQ(v[29], 40);
    close(fd);
}

TEST(FaultRule, ParsesAndRejects) {
    FaultRule r = ParseFaultRule("read:19/1 split=3 nth=2 times=1");
    EXPECT_EQ(r.match, "read:19/1");
    EXPECT_EQ(r.fault.action, FaultAction::Split);
    EXPECT_EQ(r.fault.arg, 3);
    EXPECT_EQ(r.nth, 2);
    EXPECT_EQ(r.times, 1);
    for (const char* bad : {"", "read", "read explode", "read delay", "read delay=x",
                            "read drop nth=-1", "read drop when=2"}) {
        EXPECT_THROW(ParseFaultRule(bad), std::invalid_argument) << bad;
    }
}

}  // namespace
}  // namespace pabxsim
