#include <gtest/gtest.h>

#include "items/item_testing.h"

class StorageTest : public ItemTest {};

TEST_F(StorageTest, OpenForWritingWritesExactlyTheHeader) {
    CStorage stream;
    ASSERT_TRUE(stream.OpenForWriting());
    stream.Close();
    ASSERT_TRUE(stream.OpenForReading(true));
    uint16_t length = 0;
    const uint8_t* bytes = stream.GetContents(&length);
    EXPECT_EQ(Hex(Bytes(bytes, bytes + length)), Hex(HeaderBytes()));
    EXPECT_EQ(stream.Cursor(), 0u);
    stream.Close();
    ASSERT_TRUE(stream.OpenForReading(false));
    EXPECT_EQ(stream.Cursor(), 16u);
    EXPECT_EQ(stream.PeekRemaining(&length), nullptr);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(trace_capture::Records().size(), 0u);
}

TEST_F(StorageTest, BadHeadersAreRefused) {
    const Bytes good = HeaderBytes();
    const Bytes shortHeader(good.begin(), good.begin() + 15);
    Bytes badMagic = good;
    badMagic[2] = 'c';
    Bytes version0 = good;
    version0[6] = 0;
    Bytes version2 = good;
    version2[6] = 2;
    Bytes otherFieldsIgnored = good;
    otherFieldsIgnored[3] = 'x';
    otherFieldsIgnored[4] = 99;
    otherFieldsIgnored[8] = 1;
    otherFieldsIgnored[12] = 7;
    for (const Bytes& header : {shortHeader, badMagic, version0, version2, otherFieldsIgnored}) {
        trace_capture::Clear();
        CStorage stream;
        stream.OpenForAppending();
        stream.WriteBytes(header.data(), static_cast<uint16_t>(header.size()));
        stream.Close();
        const bool accepted = header == otherFieldsIgnored;
        EXPECT_EQ(stream.OpenForReading(false), accepted) << Hex(header);
        EXPECT_EQ(stream.IsReading(), accepted);
        EXPECT_EQ(Reported("**Error: failed to open storage for reading."), accepted ? 0u : 1u);
    }
    CStorage empty;
    EXPECT_FALSE(empty.OpenForReading(true));
    EXPECT_EQ(empty.Cursor(), 0u);
}

TEST_F(StorageTest, OpeningAnOpenStreamFailsAndChangesNothing) {
    CStorage stream;
    ASSERT_TRUE(stream.OpenForWriting());
    EXPECT_FALSE(stream.OpenForWriting());
    EXPECT_FALSE(stream.OpenForAppending());
    EXPECT_FALSE(stream.OpenForReading(true));
    EXPECT_EQ(Reported("failed to open storage for writing"), 2u);
    EXPECT_EQ(Reported("failed to open storage for reading"), 1u);
    EXPECT_TRUE(stream.IsWriting());
    EXPECT_EQ(stream.Length(), 16u);
    stream.Close();
    ASSERT_TRUE(stream.OpenForReading(true));
    EXPECT_FALSE(stream.OpenForAppending());
    EXPECT_TRUE(stream.IsReading());
}

TEST_F(StorageTest, WritesAndReadsOnClosedStreamsAreReported) {
    CStorage stream;
    const uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_EQ(stream.WriteBytes(nullptr, 4), 0);
    EXPECT_EQ(stream.WriteBytes(bytes, 0), 0);
    EXPECT_EQ(trace_capture::Records().size(), 0u);
    EXPECT_EQ(stream.WriteBytes(bytes, 4), 0);
    EXPECT_FALSE(stream.WriteByte(1));
    uint8_t into[4];
    EXPECT_EQ(stream.ReadBytes(into, 4), 0);
    uint16_t count = 9;
    EXPECT_EQ(stream.PeekRemaining(&count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(stream.GetContents(&count), nullptr);
    EXPECT_EQ(Reported("**Error: failed to write 4 byte(s) to storage (not open).\n"), 1u);
    EXPECT_EQ(Reported("**Error: failed to write 1 byte(s) to storage (not open).\n"), 1u);
    EXPECT_EQ(Reported("**Error: failed to read 4 byte(s) from storage (not open).\n"), 1u);
    EXPECT_EQ(Reported("**Error: failed to read storage (not open).\n"), 2u);
}

TEST_F(StorageTest, ShortReadCopiesWhatIsThereAndReports) {
    CRef<CStorage> stream = ReadingStream(FromHex("01 02 03"));
    uint8_t into[4] = {};
    EXPECT_EQ(stream->ReadBytes(into, 4), 3);
    EXPECT_EQ(Hex(Bytes(into, into + 4)), "01 02 03 00");
    EXPECT_EQ(stream->Cursor(), 19u);
    EXPECT_EQ(Reported("**Error: failed to read 4 byte(s) from storage (read 3).\n"), 1u);
    EXPECT_TRUE(stream->Exhausted());
    EXPECT_FALSE(stream->ReadByte(into));
    EXPECT_EQ(Reported("failed to read 1 byte(s) from storage (read 0)"), 1u);
}

TEST_F(StorageTest, GrowthRuleGivesExactCapacities) {
    CStorage stream;
    stream.OpenForAppending();
    const Bytes bytes(2000, 0xAB);
    EXPECT_EQ(stream.WriteBytes(bytes.data(), 250), 250);
    EXPECT_EQ(stream.Capacity(), 255u);
    EXPECT_EQ(stream.GrowthStep(), 250u);
    EXPECT_EQ(stream.WriteBytes(bytes.data(), 10), 10);
    EXPECT_EQ(stream.Capacity(), 511u);
    EXPECT_EQ(stream.GrowthStep(), 500u);
    // 260 + 1 + 300 > 511: reserve 500 + 561 = 1061, OR 15 = 1071.
    EXPECT_EQ(stream.WriteBytes(bytes.data(), 300), 300);
    EXPECT_EQ(stream.Capacity(), 1071u);
    EXPECT_EQ(stream.GrowthStep(), 1000u);
    EXPECT_EQ(stream.Length(), 560u);
    // A first append larger than the step reserves what it needs.
    CStorage large;
    large.OpenForAppending();
    large.WriteBytes(bytes.data(), 1000);
    EXPECT_EQ(large.Capacity(), 1007u);
}

TEST_F(StorageTest, NulFollowsTheLastByte) {
    CStorage stream;
    stream.OpenForAppending();
    const Bytes header = HeaderBytes();
    stream.WriteBytes(header.data(), 16);
    stream.WriteText("a");
    stream.WriteText("b");
    stream.Close();
    ASSERT_TRUE(stream.OpenForReading(true));
    uint16_t length = 0;
    const uint8_t* bytes = stream.GetContents(&length);
    ASSERT_EQ(length, 18);
    EXPECT_EQ(bytes[17], 'b');
    EXPECT_EQ(bytes[18], 0);
}

TEST_F(StorageTest, StreamNeverHoldsMoreThan65535BytesAndStaysFailed) {
    CStorage stream;
    stream.OpenForAppending();
    const Bytes bytes(65535, 0x11);
    EXPECT_EQ(stream.WriteBytes(bytes.data(), 65530), 65530);
    EXPECT_EQ(stream.WriteBytes(bytes.data(), 5), 5);
    EXPECT_FALSE(stream.Failed());
    EXPECT_FALSE(stream.WriteByte(1));
    EXPECT_TRUE(stream.Failed());
    EXPECT_EQ(Reported("**Error: storage full: cannot hold 1 more byte(s).\n"), 1u);
    EXPECT_EQ(stream.Length(), 65535u);
    // A failed stream takes nothing more and reports no more.
    CStorage other;
    other.OpenForAppending();
    other.WriteBytes(bytes.data(), 65000);
    EXPECT_EQ(other.WriteBytes(bytes.data(), 1000), 0);
    EXPECT_EQ(other.WriteBytes(bytes.data(), 10), 0);
    EXPECT_EQ(other.Length(), 65000u);
    EXPECT_EQ(Reported("storage full"), 2u);
}
