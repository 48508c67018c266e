#include "items/item_testing.h"

class StorageTest : public ItemTest {};

// Reading starts behind the header, or at 0 when rewound; appended text ends in a NUL.
TEST_F(StorageTest, HeaderCursorAndTrailingNul) {
    CStorage stream;
    ASSERT_TRUE(stream.OpenForWriting());
    stream.Close();
    ASSERT_TRUE(stream.OpenForReading(false));
    EXPECT_EQ(stream.Cursor(), 16u);
    uint16_t length = 9;
    EXPECT_EQ(stream.PeekRemaining(&length), nullptr);
    EXPECT_EQ(length, 0);
    CStorage text;
    text.OpenForAppending();
    text.WriteBytes(HeaderBytes().data(), 16);
    text.WriteText("a");
    text.WriteText("b");
    text.Close();
    ASSERT_TRUE(text.OpenForReading(true));
    EXPECT_EQ(text.Cursor(), 0u);
    const uint8_t* bytes = text.GetContents(&length);
    EXPECT_EQ(Hex(Bytes(bytes, bytes + length + 1)), Hex(HeaderBytes()) + " 61 62 00");
    EXPECT_EQ(trace_capture::Records().size(), 0u);
}

// The magic and the version must match; the other header fields are not checked.
TEST_F(StorageTest, BadHeadersAreRefused) {
    const std::pair<const char*, bool> headers[] = {
        {"4B 76 62 00 10 00 01 00 52 00 00 00 00 00 00", false},     // a byte short
        {"4B 76 63 00 10 00 01 00 52 00 00 00 00 00 00 00", false},  // magic
        {"4B 76 62 00 10 00 00 00 52 00 00 00 00 00 00 00", false},  // version 0
        {"4B 76 62 00 10 00 02 00 52 00 00 00 00 00 00 00", false},  // version 2
        {"4B 76 62 78 63 00 01 00 01 00 00 00 07 00 00 00", true},   // every other field
    };
    for (const auto& [hex, accepted] : headers) {
        trace_capture::Clear();
        const Bytes header = FromHex(hex);
        CStorage stream;
        stream.OpenForAppending();
        stream.WriteBytes(header.data(), static_cast<uint16_t>(header.size()));
        stream.Close();
        EXPECT_EQ(stream.OpenForReading(false), accepted) << hex;
        EXPECT_EQ(stream.IsReading(), accepted);
        CStorage inPlace;
        EXPECT_EQ(inPlace.OpenForReading(header.data(), static_cast<uint32_t>(header.size())), accepted) << hex;
        EXPECT_EQ(inPlace.Length(), accepted ? header.size() : 0u);
        EXPECT_EQ(Reported("**Error: failed to open storage for reading."), accepted ? 0u : 2u);
    }
    CStorage empty;
    EXPECT_FALSE(empty.OpenForReading(true));
}

// The caller's bytes are read where they are and forgotten at Close; a stream that holds bytes
// of its own refuses them. Taking the contents leaves the stream empty, like a new one.
TEST_F(StorageTest, BytesReadInPlaceAndContentsTaken) {
    Bytes stored = HeaderBytes();
    stored.push_back('x');
    CStorage stream;
    ASSERT_TRUE(stream.OpenForReading(stored.data(), static_cast<uint32_t>(stored.size())));
    uint8_t byte = 0;
    ASSERT_TRUE(stream.ReadByte(&byte));
    EXPECT_EQ(byte, 'x');
    uint16_t length = 0;
    EXPECT_EQ(stream.GetContents(&length), stored.data());
    EXPECT_EQ(length, 17);
    stream.Close();
    EXPECT_EQ(stream.Length(), 0u);
    ASSERT_TRUE(stream.OpenForWriting());
    stream.WriteText("ab");
    stream.Close();
    EXPECT_FALSE(stream.OpenForReading(stored.data(), static_cast<uint32_t>(stored.size())));
    EXPECT_EQ(Reported("**Error: failed to open storage for reading."), 1u);
    uint32_t taken = 0;
    uint8_t* contents = stream.TakeContents(&taken);
    ASSERT_NE(contents, nullptr);
    EXPECT_EQ(Hex(Bytes(contents, contents + taken + 1)), Hex(HeaderBytes()) + " 61 62 00");
    std::free(contents);
    EXPECT_EQ(stream.Length() + stream.Capacity(), 0u);
    EXPECT_EQ(stream.TakeContents(&taken), nullptr);
    EXPECT_EQ(taken, 0u);
    EXPECT_TRUE(stream.OpenForWriting());
}

TEST_F(StorageTest, MisuseAndShortReadsAreReported) {
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

    trace_capture::Clear();
    CStorage closed;
    uint8_t into[4] = {1, 2, 3, 4};
    EXPECT_EQ(closed.WriteBytes(nullptr, 4), 0);
    EXPECT_EQ(closed.WriteBytes(into, 0), 0);
    EXPECT_EQ(trace_capture::Records().size(), 0u);
    EXPECT_EQ(closed.WriteBytes(into, 4), 0);
    EXPECT_FALSE(closed.WriteByte(1));
    EXPECT_EQ(closed.ReadBytes(into, 4), 0);
    uint16_t count = 9;
    EXPECT_EQ(closed.PeekRemaining(&count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(closed.GetContents(&count), nullptr);
    EXPECT_EQ(trace_capture::Records(), (TraceRecords{{"**Error: failed to write 4 byte(s) to storage (not open).\n", 18},
                                                      {"**Error: failed to write 1 byte(s) to storage (not open).\n", 18},
                                                      {"**Error: failed to read 4 byte(s) from storage (not open).\n", 18},
                                                      {"**Error: failed to read storage (not open).\n", 18},
                                                      {"**Error: failed to read storage (not open).\n", 18}}));

    CRef<CStorage> reading = ReadingStream(FromHex("05 06 07"));
    EXPECT_EQ(reading->ReadBytes(into, 4), 3);
    EXPECT_EQ(Hex(Bytes(into, into + 4)), "05 06 07 04");
    EXPECT_EQ(reading->Cursor(), 19u);
    EXPECT_EQ(Reported("**Error: failed to read 4 byte(s) from storage (read 3).\n"), 1u);
    EXPECT_TRUE(reading->Exhausted());
    EXPECT_FALSE(reading->ReadByte(into));
    EXPECT_EQ(Reported("failed to read 1 byte(s) from storage (read 0)"), 1u);
}

// A refused write fails the stream for good: it takes nothing more and reports no more.
TEST_F(StorageTest, StreamNeverHoldsMoreThan65535BytesAndStaysFailed) {
    CStorage stream, other;
    stream.OpenForAppending();
    const Bytes bytes(65535, 0x11);
    EXPECT_EQ(stream.WriteBytes(bytes.data(), 65530), 65530);
    EXPECT_EQ(stream.WriteBytes(bytes.data(), 5), 5);
    EXPECT_FALSE(stream.Failed());
    EXPECT_FALSE(stream.WriteByte(1));
    EXPECT_TRUE(stream.Failed());
    EXPECT_EQ(Reported("**Error: storage full: cannot hold 1 more byte(s).\n"), 1u);
    EXPECT_EQ(stream.Length(), 65535u);
    other.OpenForAppending();
    other.WriteBytes(bytes.data(), 65000);
    EXPECT_EQ(other.WriteBytes(bytes.data(), 1000), 0);
    EXPECT_EQ(other.WriteBytes(bytes.data(), 10), 0);
    EXPECT_EQ(other.Length(), 65000u);
    EXPECT_EQ(Reported("storage full"), 2u);
}
