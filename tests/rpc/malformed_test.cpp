// Raw clients that break the framing: each is disconnected, nothing of its bad frame reaches
// the routine, and the server goes on serving everyone else.
#include "platform/rpc/frame.h"
#include "platform/rpc/socket.h"
#include "support/rpc_test_support.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>

namespace {

class RawClient {
public:
    explicit RawClient(const std::string& endpoint) : fd_(UnixStreamSocket(false)) {
        CAbstractAddress address;
        address.Set(kEndpointPrefix, endpoint);
        connected_ = connect(fd_, address.Get(), address.Length()) == 0;
    }
    ~RawClient() { CloseDescriptor(fd_); }
    bool Connected() const { return connected_; }
    bool Write(const std::vector<uint8_t>& bytes) {
        return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // Whether the server closed the connection within the timeout.
    bool ClosedByServer(int timeoutMs = 3000) {
        pollfd descriptor{fd_, POLLIN, 0};
        if (poll(&descriptor, 1, timeoutMs) != 1) return false;
        char byte;
        return read(fd_, &byte, 1) <= 0;
    }
    void Close() {
        CloseDescriptor(fd_);
        fd_ = -1;
    }

private:
    int fd_;
    bool connected_ = false;
};

std::vector<uint8_t> Frame(const std::string& service, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes(kFrameHeaderSize);
    FrameEncodeHeader(bytes.data(), 0, 1, static_cast<uint16_t>(service.size()), true,
                      static_cast<uint16_t>(data.size()));
    bytes.insert(bytes.end(), service.begin(), service.end());
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

std::string ServiceName(int i) {
    std::string name = std::to_string(i);
    name.insert(name.begin(), 's');
    return name;
}

class Malformed : public ::testing::Test {
protected:
    void SetUp() override {
        CCallRecorder::Instance().Clear();
        endpoint_ = TestEndpoint("mf");
        ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);
    }
    void TearDown() override { EXPECT_EQ(server_.Stop(), RPC_S_OK); }

    std::string endpoint_;
    CTestServer server_;
};

}  // namespace

TEST_F(Malformed, BadFramesCloseTheirConnectionOnly) {
    // A well-behaved client holds half a frame while the bad ones come and go.
    RawClient good(endpoint_);
    ASSERT_TRUE(good.Connected());
    const std::vector<uint8_t> frame = Frame("good", {1, 2, 3});
    ASSERT_TRUE(good.Write(std::vector<uint8_t>(frame.begin(), frame.begin() + 10)));

    std::vector<uint8_t> oversize = Frame("x", {});
    oversize[0] = 0xFF, oversize[1] = 0xFF, oversize[2] = 0x02;
    std::vector<uint8_t> badMagic = Frame("x", {1});
    badMagic[5] ^= 0x40;
    std::vector<uint8_t> inconsistent = Frame("xyz", {1, 2});
    inconsistent[14] = 9;
    std::vector<uint8_t> undersize = Frame("x", {});
    undersize[0] = 12;
    std::vector<uint8_t> nulService = Frame("abc", {});
    nulService[kFrameHeaderSize + 1] = 0;
    // A valid frame followed by a bad one in the same write: only the valid one runs.
    std::vector<uint8_t> validThenBad = Frame("first", {});
    validThenBad.insert(validThenBad.end(), badMagic.begin(), badMagic.end());

    const std::pair<const char*, std::vector<uint8_t>> cases[] = {
        {"oversize", oversize},         {"bad magic", badMagic},      {"inconsistent lengths", inconsistent},
        {"undersize", undersize},       {"NUL in service", nulService}, {"valid then bad", validThenBad},
    };
    for (const auto& [what, bytes] : cases) {
        RawClient bad(endpoint_);
        ASSERT_TRUE(bad.Connected()) << what;
        ASSERT_TRUE(bad.Write(bytes)) << what;
        EXPECT_TRUE(bad.ClosedByServer()) << what;
    }

    // Cut short by the client: shorter than a header, and a frame missing its last byte.
    for (size_t keep : {size_t{7}, frame.size() - 1}) {
        RawClient cut(endpoint_);
        ASSERT_TRUE(cut.Write(std::vector<uint8_t>(frame.begin(), frame.begin() + static_cast<long>(keep))));
        cut.Close();
    }

    ASSERT_TRUE(good.Write(std::vector<uint8_t>(frame.begin() + 10, frame.end())));
    const auto calls = CCallRecorder::Instance().WaitFor(2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].service, "first");
    EXPECT_EQ(calls[1].service, "good");
    EXPECT_EQ(calls[1].data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(good.ClosedByServer(100));

    // Still serving through the runtime's own client.
    RPC_BINDING_HANDLE binding = TestBind(endpoint_);
    ASSERT_EQ(DeliverStatus(binding, "after", 0, 1, nullptr, 0), RPC_S_OK);
    EXPECT_EQ(CCallRecorder::Instance().WaitFor(3).size(), 3u);
    RpcBindingFree(&binding);
}

TEST_F(Malformed, ManyFramesInOneWriteAllRunInOrder) {
    RawClient client(endpoint_);
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 500; ++i) {
        const std::vector<uint8_t> one = Frame(ServiceName(i), std::vector<uint8_t>(i % 50, 0x11));
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    // Written in odd-sized pieces so that frames straddle reads.
    for (size_t at = 0; at < bytes.size(); at += 777) {
        const size_t end = std::min(bytes.size(), at + 777);
        ASSERT_TRUE(client.Write(std::vector<uint8_t>(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(end))));
    }
    const auto calls = CCallRecorder::Instance().WaitFor(500);
    ASSERT_EQ(calls.size(), 500u);
    for (int i = 0; i < 500; ++i) {
        EXPECT_EQ(calls[i].service, ServiceName(i));
        EXPECT_EQ(calls[i].data.size(), static_cast<size_t>(i % 50));
    }
}
