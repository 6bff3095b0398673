// Frame building and cutting, without sockets.
#include <gtest/gtest.h>

#include "tools/pabx-sim/Frame.h"

namespace pabxsim {
namespace {

TEST(Frame, RepliesCarryTheLayoutClientsRead) {
    Bytes odd = ProgDataReply(2, 3, {1, 2, 3});
    EXPECT_EQ(Hex(odd),
              "55 0F 00 03 00 04 80 01 00 02 00 03 00 02 00 01 02 03");  // no padding byte
    EXPECT_EQ(Hex(ProgAckFrame(10005, 0)), "55 0C 00 03 00 05 80 01 00 15 27 00 00 00 00");
    EXPECT_EQ(CtrlReplyCommand(2), 0x82);
    EXPECT_EQ(CtrlReplyCommand(3), 0x83);
    EXPECT_EQ(CtrlReplyCommand(0x190), 0x190);
    EXPECT_EQ(Hex(CtrlReplyFrame(0x82, 2, 0x8C)), "55 0A 00 06 00 82 00 02 00 8C 00 00 00");
    Bytes xml = XmlReplyFrame(26, "<a/>");
    ASSERT_EQ(xml.size(), 13u + 4 + 10);
    EXPECT_EQ(GetU16(xml, 5), 9);
    EXPECT_EQ(GetU16(xml, 9), 26);
    EXPECT_EQ(std::string(xml.begin() + 13, xml.begin() + 17), "<a/>");
    EXPECT_EQ(Bytes(xml.end() - 10, xml.end()), Bytes(10, 0));
}

TEST(Frame, ReaderSkipsJunkAssemblesSplitFramesAndCountsByLength) {
    // Junk, then a frame whose data holds 0x55, then a second frame, fed one byte at a time.
    Bytes first = ProgDataReply(9, 5, {0x55, 0x55, 0x00, 0x55});
    Bytes second = ProgAckFrame(1005, 9);
    Bytes stream{0x00, 0x13, 0xFF};
    stream.insert(stream.end(), first.begin(), first.end());
    stream.insert(stream.end(), second.begin(), second.end());

    FrameReader reader;
    std::vector<Bytes> out;
    for (uint8_t b : stream) reader.Feed(&b, 1, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], first);
    EXPECT_EQ(out[1], second);

    out.clear();
    FrameReader whole;
    whole.Feed(stream.data(), stream.size(), out);
    EXPECT_EQ(out.size(), 2u);
}

TEST(Frame, RequestsAreReadInBothProgFormsAndAsCtrl) {
    Request shortRead = ParseRequest(FromHex("55 08 00 03 00 04 00 13 00 01 00"));
    EXPECT_TRUE(shortRead.wellFormed);
    EXPECT_EQ(shortRead.block, 19);
    EXPECT_EQ(shortRead.index, 1);
    EXPECT_TRUE(shortRead.payload.empty());

    Request longRead = ParseRequest(FromHex("55 0A 00 03 00 04 00 0A 00 23 00 00 00"));
    EXPECT_EQ(longRead.block, 10);
    EXPECT_EQ(longRead.index, 35);
    EXPECT_TRUE(longRead.payload.empty());

    Request write = ParseRequest(FromHex("55 0E 00 03 00 05 00 ED 03 09 00 02 00 07 00 00 00"));
    EXPECT_EQ(write.command, kProgWrite);
    EXPECT_EQ(write.block, 1005);
    EXPECT_EQ(write.payload, FromHex("07 00 00 00"));

    Request ctrl = ParseRequest(FromHex("55 08 00 06 00 90 01 8C 00 00 00"));
    EXPECT_EQ(ctrl.command, kCtrlSdCard);
    EXPECT_EQ(ctrl.subCode, 0x8C);

    EXPECT_FALSE(ParseRequest(FromHex("55 02 00 03 00")).wellFormed);
    EXPECT_THROW(FromHex("5G"), std::invalid_argument);
}

}  // namespace
}  // namespace pabxsim
