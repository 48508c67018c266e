// The endpoint map: entries as abstract socket names, read back from /proc/net/unix, and each
// belonging to one live process (with the peer helper program).
#include "platform/rpc/epmap.h"
#include "support/child_process.h"
#include "support/rpc_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

// Characters that the socket name must escape survive the trip through /proc/net/unix.
TEST(EndpointMap, RegisteredAnnotationsAreListedUntilWithdrawn) {
    const std::string endpoint = TestEndpoint("em");
    const std::string name = endpoint + " %odd\nchars\x01";
    const std::string annotation = name + " #" + std::to_string(getpid());
    CTestServer server;
    ASSERT_EQ(server.Start(endpoint, annotation.c_str()), RPC_S_OK);
    EXPECT_TRUE(SinkListed(name, static_cast<uint32_t>(getpid())));

    // The same annotation again while the first lives is refused, and so is one too long.
    RPC_BINDING_VECTOR* vector = nullptr;
    ASSERT_EQ(RpcServerInqBindings(&vector), RPC_S_OK);
    EXPECT_EQ(RpcEpRegisterNoReplaceA(Deliver_v1_0_s_ifspec, vector, nullptr, annotation.c_str()),
              EPT_S_CANT_PERFORM_OP);
    EXPECT_EQ(RpcEpRegisterNoReplaceA(Deliver_v1_0_s_ifspec, vector, nullptr, std::string(60, 'a').c_str()),
              RPC_S_STRING_TOO_LONG);
    RpcBindingVectorFree(&vector);

    ASSERT_EQ(server.Stop(), RPC_S_OK);
    EXPECT_FALSE(SinkListed(name, static_cast<uint32_t>(getpid())));
}

TEST(EndpointMapNames, ReadsEntriesFromProcNetUnixLines) {
    const UUID uuid{0xf7ca7934, 0x33a7, 0x42f1, {0x9e, 0x20, 0xb3, 0xbb, 0xe8, 0x40, 0xba, 0x9b}};
    const std::string prefix = "0000000000000000: 00000002 00000000 00000000 0001 01   123 ";
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {prefix + "@mbus/epmap/f7ca7934-33a7-42f1-9e20-b3bbe840ba9b/abc%20x #12", "abc x #12"},
        {prefix + "@mbus/epmap/f7ca7934-33a7-42f1-9e20-b3bbe840ba9b/a%25%0A%00%4a%4A", std::string("a%\n\0JJ", 6)},
        {prefix + "@mbus/epmap/F7CA7934-33A7-42F1-9E20-B3BBE840BA9B/", ""},
        {prefix + "mbus/epmap/f7ca7934-33a7-42f1-9e20-b3bbe840ba9b/abc", std::nullopt},  // a path, not abstract
        {prefix + "@mbus/ncalrpc/abc", std::nullopt},
        {prefix + "@mbus/epmap/f7ca7934-33a7-42f1-9e20-b3bbe840ba9/abc", std::nullopt},
        {prefix + "@mbus/epmap/f7ca7934x33a7-42f1-9e20-b3bbe840ba9b/abc", std::nullopt},
        {prefix + "@mbus/epmap/f7ca7934-33a7-42f1-9e20-b3bbe840ba9bxabc", std::nullopt},
        {prefix + "@mbus/epmap/f7ca7934-33a7-42f1-9e20-b3bbe840ba9b/bad%escape", std::nullopt},
        {prefix + "@mbus/epmap/f7ca7934-33a7-42f1-9e20-b3bbe840ba9b/a%2", std::nullopt},
        {"Num       RefCount Protocol Flags    Type St Inode Path", std::nullopt},
        {"0000000000000000: 00000002 00000000 00000000 0001 01 123", std::nullopt},
    };
    for (const auto& [line, annotation] : cases) {
        const auto entry = EndpointMapParseLine(line);
        ASSERT_EQ(entry.has_value(), annotation.has_value()) << line;
        if (!entry) continue;
        EXPECT_EQ(entry->annotation, *annotation);
        EXPECT_EQ(std::memcmp(&entry->uuid, &uuid, sizeof uuid), 0);
    }
}

// A SIGKILLed owner leaves no entry behind and its name can be taken at once.
TEST(MultiProcess, EndpointBelongsToOneLiveProcessAndVanishesWithIt) {
    const std::string endpoint = TestEndpoint("mp");
    CTestServer server;
    ASSERT_EQ(server.Start(endpoint), RPC_S_OK);
    // The status with which a peer started on endpoint registered it.
    const auto status = [](CChildProcess& peer) {
        const std::string line = peer.Next();
        return line[0] == '<' ? -1 : std::stol(line);
    };
    CChildProcess duplicate(MBUS_RPC_PEER, {endpoint});
    EXPECT_EQ(status(duplicate), RPC_S_DUPLICATE_ENDPOINT);
    ASSERT_EQ(server.Stop(), RPC_S_OK);

    CChildProcess peer(MBUS_RPC_PEER, {endpoint});
    ASSERT_EQ(status(peer), RPC_S_OK);
    const uint32_t pid = static_cast<uint32_t>(peer.Pid());
    EXPECT_TRUE(SinkListed(endpoint, pid));
    CTestBinding binding(endpoint);
    EXPECT_EQ(DeliverStatus(binding, "s", 0, 1, nullptr, 0), RPC_S_OK);

    peer.Kill();
    EXPECT_FALSE(SinkListed(endpoint, pid));
    EXPECT_NE(DeliverStatus(binding, "s", 0, 1, nullptr, 0), RPC_S_OK);

    const std::string annotation = endpoint + " #" + std::to_string(getpid());
    ASSERT_EQ(server.Start(endpoint, annotation.c_str()), RPC_S_OK);
    EXPECT_TRUE(SinkListed(endpoint, static_cast<uint32_t>(getpid())));
}
