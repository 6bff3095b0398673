// The extension blocks as a console programs them: malformed writes refused,
// what was written readable through the accessors and the control port, and
// the faults that spoil extension replies.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "TestSupport.h"
#include "tools/pabx-sim/Simulator.h"

namespace pabxsim {
namespace {

using test::RawClient;

class ExtensionWriteTest : public ::testing::Test {
  protected:
    void Start(SimulatorOptions opt = {}) {
        Scenario s;
        s.password = "9";
        s.store = dir_.Caminho();
        s.extensionList = {1001};
        s.extensionParams = {{1001, 7}};
        s.extensionLists = {{1001, {1002}}};
        sim_ = std::make_unique<Simulator>(s, opt);
        sim_->Start();
    }
    std::unique_ptr<RawClient> LoggedIn() {
        auto c = std::make_unique<RawClient>(sim_->Port());
        EXPECT_TRUE(c->Login("9"));
        return c;
    }
    // A write frame whose word count says `words` whatever the payload.
    static Bytes WriteCounting(uint16_t block, uint16_t index, const Bytes& payload,
                               uint16_t words) {
        Bytes f = test::ProgWrite(block, index, payload);
        PutU16(f, 11, words);
        return f;
    }

    PastaTemporaria dir_;
    std::unique_ptr<Simulator> sim_;
};

TEST_F(ExtensionWriteTest, MalformedWritesAreRefusedAndChangeNothing) {
    Start();
    auto c = LoggedIn();
    struct Case {
        const char* what;
        Bytes frame;
    } cases[] = {
        {"word of 2 bytes", test::ProgWrite(1001, 9, FromHex("05 00"))},
        {"word of 6 bytes", test::ProgWrite(1001, 9, FromHex("05 00 00 00 00 00"))},
        {"count 3 for 2 words", WriteCounting(1001, 10, FromHex("E9 03 EA 03"), 3)},
        {"count 0 for 1 word", WriteCounting(10, 35, FromHex("E9 03"), 0)},
        {"odd list", test::ProgWrite(1001, 10, FromHex("E9 03 EA"))},
    };
    for (const Case& k : cases) {
        c->Send(k.frame);
        Bytes r = c->Frame();
        EXPECT_EQ(GetU16(r, 5), 0x85) << k.what;
        EXPECT_EQ(GetU16(r, 7), 4) << k.what;
        EXPECT_EQ(GetU16(r, 9), GetU16(k.frame, 7)) << k.what;
    }
    EXPECT_TRUE(sim_->unit().Writes().empty());
    EXPECT_EQ(sim_->unit().ExtensionWord(1001), 7);
    EXPECT_EQ(sim_->unit().ExtensionList(1001), std::vector<uint16_t>{1002});
}

TEST_F(ExtensionWriteTest, AccessorsAndControlPortShowWhatWasWritten) {
    SimulatorOptions opt;
    opt.controlPort = true;
    Start(opt);
    auto c = LoggedIn();
    c->Send(test::ProgWrite(3001, 9, FromHex("47 80 00 00")));
    EXPECT_EQ(Hex(c->Frame()), Hex(ProgAckFrame(3001, 9)));
    c->Send(test::ProgWrite(3001, 10, FromHex("E9 03 00 00 EB 03")));
    EXPECT_EQ(Hex(c->Frame()), Hex(ProgAckFrame(3001, 10)));
    c->Send(test::ProgWrite(10, 35, FromHex("E9 03 B9 0B")));
    EXPECT_EQ(Hex(c->Frame()), Hex(ProgAckFrame(10, 35)));
    c->Send(test::ProgWrite(1001, 10, {}));
    EXPECT_EQ(Hex(c->Frame()), Hex(ProgAckFrame(1001, 10)));

    Unit& u = sim_->unit();
    EXPECT_EQ(u.ExtensionWord(3001), 0x8047);
    EXPECT_EQ(u.ExtensionList(3001), (std::vector<uint16_t>{1001, 1003}));
    EXPECT_EQ(u.ConfiguredList(), (std::vector<uint16_t>{1001, 3001}));
    EXPECT_TRUE(u.ExtensionList(1001).empty());
    EXPECT_EQ(u.ExtensionWord(1500), 0) << "never written";
    auto w = u.Writes();
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0].block, 3001);
    EXPECT_EQ(w[0].index, 9);
    EXPECT_EQ(w[2].block, 10);
    EXPECT_EQ(w[3].data, Bytes{});

    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(sim_->ControlPort());
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    send(fd, "ext\n", 4, MSG_NOSIGNAL);
    std::string got;
    char buf[512];
    while (got.find('\n') == std::string::npos) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    EXPECT_EQ(got, "OK list=1001,3001 1001=0x0007: 3001=0x8047:1001,1003\n");
}

TEST_F(ExtensionWriteTest, FaultsOnExtensionBlocks) {
    Start();
    sim_->AddFault("read:*/9 wrongblock");
    sim_->AddFault("read:*/10 cut=1");
    sim_->AddFault("write:*/10 refuse");
    auto c = LoggedIn();
    c->Send(test::ProgReadLong(1001, 9));
    Bytes r = c->Frame();
    EXPECT_EQ(GetU16(r, 5), kProgDataReply);
    EXPECT_EQ(GetU16(r, 9), 1002) << "another block's reply";
    c->Send(test::ProgReadLong(1001, 10));
    EXPECT_EQ(Hex(c->Frame()), "55 0D 00 03 00 04 80 01 00 E9 03 0A 00 01 00 EA");
    c->Send(test::ProgWrite(1001, 10, FromHex("E9 03")));
    EXPECT_EQ(Hex(c->Frame()), "55 0A 00 06 00 85 00 04 00 E9 03 00 00");
    EXPECT_EQ(sim_->unit().ExtensionList(1001), std::vector<uint16_t>{1002})
        << "refused: no effect";
    c->Send(test::ProgReadLong(10, 35));
    EXPECT_EQ(Hex(c->Frame()), Hex(ProgDataReply(10, 35, FromHex("E9 03"))))
        << "other indexes untouched";
}

}  // namespace
}  // namespace pabxsim
