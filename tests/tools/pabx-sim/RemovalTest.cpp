// Removal requests against a real store tree: exactly the named file goes,
// escapes and folders still holding files are refused, access must be open.
#include <gtest/gtest.h>

#include <fstream>

#include "TestSupport.h"
#include "tools/pabx-sim/Simulator.h"

namespace fs = std::filesystem;

namespace pabxsim {
namespace {

using test::RawClient;

class RemovalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = dir_.Caminho() / "sd";
        day_ = root_ / "NORVIKA" / "AUDIOREC" / "GR101024";
        fs::create_directories(day_ / "X0001010");
        fs::create_directories(day_ / "X0001020");  // empty device folder
        Touch(day_ / "X0001010" / "R0000001.WAV");
        Touch(day_ / "X0001010" / "R0000001.XML");
        Touch(day_ / "X0001010" / "r0000002.wav");  // stores name files in any case
        Touch(dir_.Caminho() / "outside.txt");
        Touch(root_ / "NORVIKA" / "keep.txt");
        Scenario s;
        s.password = "1";
        s.store = root_;
        sim_ = std::make_unique<Simulator>(s);
        sim_->Start();
        client_ = std::make_unique<RawClient>(sim_->Port());
        ASSERT_TRUE(client_->Login("1"));
        client_->Send(test::AccessRequest(true));
        ASSERT_EQ(GetU16(client_->Frame(), 7), 1);
    }

    static void Touch(const fs::path& p) { std::ofstream(p) << "x"; }

    int Remove(const std::string& path) {
        client_->Send(test::RemovalRequest(path));
        Bytes r = client_->Frame();
        EXPECT_EQ(r.size(), 13u);
        EXPECT_EQ(GetU16(r, 5), 0x82);
        EXPECT_EQ(r[9], 0x8C);
        return GetU16(r, 7);
    }

    size_t FileCount() {
        size_t n = 0;
        for (auto& e : fs::recursive_directory_iterator(dir_.Caminho())) n += e.is_regular_file();
        return n;
    }

    PastaTemporaria dir_;
    fs::path root_, day_;
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<RawClient> client_;
};

TEST_F(RemovalTest, DeletesExactlyTheNamedFile) {
    size_t before = FileCount();
    EXPECT_EQ(Remove("0:/NORVIKA/AUDIOREC/GR101024/X0001010/R0000001.WAV"), 1);
    EXPECT_FALSE(fs::exists(day_ / "X0001010" / "R0000001.WAV"));
    EXPECT_TRUE(fs::exists(day_ / "X0001010" / "R0000001.XML"));
    EXPECT_EQ(FileCount(), before - 1);
    EXPECT_EQ(Remove("0:/NORVIKA/AUDIOREC/GR101024/X0001010/R0000001.WAV"), 2) << "already gone";

    // The client upper-cases paths; the file on disk is lower-case.
    EXPECT_EQ(Remove("0:/NORVIKA/AUDIOREC/GR101024/X0001010/R0000002.WAV"), 1);
    EXPECT_FALSE(fs::exists(day_ / "X0001010" / "r0000002.wav"));
}

TEST_F(RemovalTest, FoldersGoOnlyWhenEmpty) {
    EXPECT_EQ(Remove("0:/NORVIKA/AUDIOREC/GR101024/X0001010"), 2);
    EXPECT_EQ(Remove("0:/NORVIKA/AUDIOREC/GR101024"), 2);
    EXPECT_TRUE(fs::exists(day_ / "X0001010" / "R0000001.XML"));
    EXPECT_EQ(Remove("0:/NORVIKA/AUDIOREC/GR101024/X0001020/"), 1);
    EXPECT_FALSE(fs::exists(day_ / "X0001020"));
    EXPECT_EQ(Remove("0:/NORVIKA/AUDIOREC/AUDIOREC/GR101024"), 2) << "a path that does not exist";
}

TEST_F(RemovalTest, RefusesPathsThatLeaveTheStore) {
    fs::create_symlink(dir_.Caminho() / "outside.txt", day_ / "X0001010" / "LINK.WAV");
    fs::create_directory_symlink(dir_.Caminho(), day_ / "ESCAPE");
    const std::string refused[] = {
        "0:/NORVIKA/AUDIOREC/../../outside.txt",
        "0:/NORVIKA/AUDIOREC/GR101024/../../keep.txt",
        "0:/NORVIKA/AUDIOREC/GR101024/X0001010/..",
        "0:/NORVIKA/AUDIOREC/./GR101024/X0001010/R0000001.XML",
        "0:/NORVIKA/AUDIOREC/GR101024\\..\\..\\keep.txt",
        "0:/NORVIKA/AUDIOREC//GR101024/X0001010/R0000001.XML",
        "0:/NORVIKA/AUDIOREC/GR101024/X0001010/C:R0000001.XML",
        "0:/NORVIKA/keep.txt",
        "0:/NORVIKA",
        "0:/NORVIKA/AUDIOREC",
        "0:/NORVIKA/AUDIOREC/",
        "0://outside.txt",
        "/NORVIKA/AUDIOREC/GR101024/X0001010/R0000001.XML",
        "E:/NORVIKA/AUDIOREC/GR101024/X0001010/R0000001.XML",
        "0:/NORVIKA/AUDIOREC/GR101024/X0001010/LINK.WAV",
        "0:/NORVIKA/AUDIOREC/GR101024/ESCAPE/outside.txt",
        "",
    };
    size_t before = FileCount();
    for (const auto& p : refused) EXPECT_EQ(Remove(p), 4) << p;
    EXPECT_EQ(FileCount(), before);
    EXPECT_TRUE(fs::exists(dir_.Caminho() / "outside.txt"));
}

TEST_F(RemovalTest, TextAfterTheTerminatorIsNotPartOfThePath) {
    std::string p = "0:/NORVIKA/AUDIOREC/GR101024/X0001010/R0000001.XML";
    p.push_back('\0');
    p += "/../../../outside.txt";
    EXPECT_EQ(Remove(p), 1);
    EXPECT_TRUE(fs::exists(dir_.Caminho() / "outside.txt"));
}

TEST_F(RemovalTest, NeedsRecordingsAccessOpenOnTheSession) {
    RawClient other(sim_->Port());
    ASSERT_TRUE(other.Login("1"));
    other.Send(test::RemovalRequest("0:/NORVIKA/AUDIOREC/GR101024/X0001010/R0000001.WAV"));
    EXPECT_EQ(GetU16(other.Frame(), 7), 4);
    EXPECT_TRUE(fs::exists(day_ / "X0001010" / "R0000001.WAV"));

    client_->Send(test::AccessRequest(false));
    client_->Frame();
    EXPECT_EQ(Remove("0:/NORVIKA/AUDIOREC/GR101024/X0001010/R0000001.WAV"), 4);
    EXPECT_TRUE(fs::exists(day_ / "X0001010" / "R0000001.WAV"));
}

}  // namespace
}  // namespace pabxsim
