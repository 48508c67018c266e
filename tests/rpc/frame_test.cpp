// The frame format and its parser, and a live server that drops malformed clients only.
#include "platform/rpc/frame.h"
#include "support/eventually.h"
#include "support/rpc_test_support.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace {

std::vector<uint8_t> Frame(const std::string& service, const std::vector<uint8_t>& data, uint32_t flags = 0,
                           uint16_t kind = 1) {
    std::vector<uint8_t> bytes(kFrameHeaderSize);
    FrameEncodeHeader(bytes.data(), flags, kind, static_cast<uint16_t>(service.size()), true,
                      static_cast<uint16_t>(data.size()));
    bytes.insert(bytes.end(), service.begin(), service.end());
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

EFrameParse Parse(const std::vector<uint8_t>& bytes, CFrameView* frame = nullptr) {
    CFrameView ignored;
    return FrameParse(bytes.data(), bytes.size(), frame ? frame : &ignored);
}

void Put(std::vector<uint8_t>& bytes, size_t at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

using Damage = void (*)(std::vector<uint8_t>&);

// Damaged forms of Frame("svc", {9, 9, 9, 9}); all but the last show in the header alone.
const std::pair<const char*, Damage> kMalformed[] = {
    {"bad magic", [](std::vector<uint8_t>& b) { b[4] ^= 1; }},
    {"data-present 2", [](std::vector<uint8_t>& b) { b[18] = 2; }},
    {"reserved set", [](std::vector<uint8_t>& b) { b[19] = 1; }},
    {"no data but a length", [](std::vector<uint8_t>& b) { b[18] = 0; }},
    {"service longer than frame", [](std::vector<uint8_t>& b) { Put(b, 14, 4, 2); }},
    {"data longer than frame", [](std::vector<uint8_t>& b) { Put(b, 16, 5, 2); }},
    {"lengths shorter than frame", [](std::vector<uint8_t>& b) { Put(b, 16, 3, 2); }},
    {"service length wraps", [](std::vector<uint8_t>& b) { Put(b, 14, 0xFFFF, 2); }},
    {"frame length beyond its fields", [](std::vector<uint8_t>& b) { Put(b, 0, 28, 4); }},
    {"frame length under a header", [](std::vector<uint8_t>& b) { Put(b, 0, 19, 4); }},
    {"frame length over the maximum", [](std::vector<uint8_t>& b) { Put(b, 0, kFrameMaxSize + 1, 4); }},
    {"NUL inside service", [](std::vector<uint8_t>& b) { b[21] = 0; }},
};

// Appends bytes to a stream of frames.
void Append(std::vector<uint8_t>& stream, const std::vector<uint8_t>& bytes) {
    stream.insert(stream.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> Malformed(Damage damage) {
    std::vector<uint8_t> bytes = Frame("svc", {9, 9, 9, 9});
    damage(bytes);
    return bytes;
}

// A recording server on an endpoint of the test's own, with no call recorded yet.
class FrameServer : public ::testing::Test {
protected:
    void SetUp() override {
        ClearCalls();
        ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);
    }
    const std::string endpoint_ = TestEndpoint("fs" + std::to_string(++servers_));
    CTestServer server_;
    static inline int servers_ = 0;
};

}  // namespace

// The header is little-endian, byte for byte; every proper prefix of a frame is incomplete, and
// bytes behind it are left for the next frame.
TEST(Frame, HeaderIsByteExactPrefixesAreIncompleteAndTrailingBytesAreLeft) {
    const std::vector<uint8_t> expected = {26, 0,    0,    0,    'M', 'B', 'S', '1', 0x01, 0x00, 0x03, 0x00, 0x06,
                                           0x05, 3, 0,    3,    0,   1,   0,   's', 'v', 'c',  0xAA, 0xBB, 0xCC};
    std::vector<uint8_t> bytes = Frame("svc", {0xAA, 0xBB, 0xCC}, 0x00030001, 0x0506);
    EXPECT_EQ(bytes, expected);
    CFrameView frame{};
    for (size_t n = 0; n < bytes.size(); ++n)
        EXPECT_EQ(FrameParse(bytes.data(), n, &frame), EFrameParse::Incomplete) << n;
    bytes.push_back(0xEE);
    ASSERT_EQ(Parse(bytes, &frame), EFrameParse::Complete);
    EXPECT_EQ(frame.size, bytes.size() - 1);
}

TEST(Frame, MalformedIsRefusedAsSoonAsTheHeaderShowsIt) {
    for (const auto& [what, damage] : kMalformed) {
        std::vector<uint8_t> bytes = Malformed(damage);
        EXPECT_EQ(Parse(bytes), EFrameParse::Malformed) << what;
        bytes.resize(kFrameHeaderSize);  // before the body arrives
        const bool inHeader = damage != std::end(kMalformed)[-1].second;
        EXPECT_EQ(Parse(bytes), inHeader ? EFrameParse::Malformed : EFrameParse::Incomplete) << what;
    }
    // Four bytes suffice to refuse a frame length outside its bounds.
    for (uint32_t size : {0u, 19u, kFrameMaxSize + 1, 0xFFFFFFFFu}) {
        std::vector<uint8_t> bytes(4);
        Put(bytes, 0, size, 4);
        EXPECT_EQ(Parse(bytes), EFrameParse::Malformed) << size;
    }
}

TEST_F(FrameServer, MalformedClientsAreDisconnectedWhileOthersAreServed) {
    // A good client's stream of frames, written in odd-sized pieces so that frames straddle the
    // server's reads; the bad clients come and go while it is half written.
    std::vector<uint8_t> stream;
    for (uint32_t i = 0; i < 500; ++i) Append(stream, Frame(std::to_string(i) + "s", std::vector<uint8_t>(i % 50, 0x11)));
    CRawClient good(endpoint_);
    const size_t half = stream.size() / 2;
    for (size_t at = 0; at < half; at += 777) ASSERT_TRUE(good.Write(&stream[at], std::min<size_t>(777, half - at)));

    std::vector<std::pair<std::string, std::vector<uint8_t>>> bad;
    for (const auto& [what, damage] : kMalformed) bad.emplace_back(what, Malformed(damage));
    // A valid frame followed by a bad one in the same write: only the valid one runs.
    bad.emplace_back("valid then bad", Frame("first", {}));
    Append(bad.back().second, bad[0].second);
    for (const auto& [what, bytes] : bad) {
        CRawClient client(endpoint_);
        ASSERT_TRUE(client.Write(bytes.data(), bytes.size())) << what;
        EXPECT_TRUE(client.ClosedByServer()) << what;
    }
    // Cut short by the client: shorter than a header, and a frame missing its last byte.
    const std::vector<uint8_t> whole = Frame("cut", {1});
    for (size_t keep : {size_t{7}, whole.size() - 1}) ASSERT_TRUE(CRawClient(endpoint_).Write(whole.data(), keep));

    ASSERT_TRUE(good.Write(&stream[half], stream.size() - half));
    const auto calls = WaitForCalls(501);
    ASSERT_EQ(calls.size(), 501u);
    uint32_t next = 0;
    for (const CRecordedCall& call : calls) {
        if (call.service == "first") continue;
        EXPECT_EQ(call.service, std::to_string(next) + "s");
        EXPECT_EQ(call.data.size(), next++ % 50);
    }
    EXPECT_EQ(next, 500u);  // so "first" came once
    EXPECT_FALSE(good.ClosedByServer(0)) << "its frames all ran, and its connection stays";
}

// The end of a run comes after its last whole frame: also when a cut frame waits behind it, and
// when a malformed frame ends it and the connection.
TEST_F(FrameServer, ARunEndsAfterItsLastWholeFrameWhateverFollows) {
    std::vector<uint8_t> bytes;
    for (const char* service : {"a", "b", "c"}) Append(bytes, Frame(service, {1, 2}));
    CRawClient client(endpoint_);
    const size_t cut = bytes.size() - 3;
    ASSERT_TRUE(client.Write(bytes.data(), cut));
    EXPECT_EQ(WaitForRunEnds(1), (std::vector<size_t>{2}));
    ASSERT_TRUE(client.Write(&bytes[cut], 3));
    EXPECT_EQ(WaitForRunEnds(2), (std::vector<size_t>{2, 3}));

    std::vector<uint8_t> thenBad = Frame("d", {});
    Append(thenBad, Malformed(kMalformed[0].second));
    CRawClient badClient(endpoint_);
    ASSERT_TRUE(badClient.Write(thenBad.data(), thenBad.size()));
    EXPECT_TRUE(badClient.ClosedByServer());
    EXPECT_EQ(WaitForRunEnds(3), (std::vector<size_t>{2, 3, 4}));
    EXPECT_EQ(WaitForCalls(4).back().service, "d");
}

// A process started while the server drops a connection holds a copy of its socket until its
// exec; a forked child that never execs stands for it. The server must not hear of the dropped
// connection again (it would serve a deleted one).
TEST_F(FrameServer, AConnectionDroppedWhileAChildHoldsItsSocketIsNotServedAgain) {
    const std::vector<uint8_t> frame = Frame("s", {});
    auto client = std::make_unique<CRawClient>(endpoint_);
    ASSERT_TRUE(client->Write(frame.data(), frame.size()));
    ASSERT_EQ(WaitForCalls(1).size(), 1u) << "accepted and watched";
    struct CCopies {
        const pid_t pid = fork();
        ~CCopies() {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    } copies;
    if (copies.pid == 0) {
        close(client->Fd());  // the client's end closes with the parent's
        pause();
        _exit(0);
    }
    const auto open = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    const auto before = open();
    client.reset();
    ASSERT_TRUE(Eventually([&] { return open() == before - 2; })) << "the server closed its end as well";
    ASSERT_TRUE(CRawClient(endpoint_).Write(frame.data(), frame.size()));
    EXPECT_EQ(WaitForCalls(2).size(), 2u);
}
