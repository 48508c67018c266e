#include "platform/rpc/binding.h"
#include "platform/rpc/epmap.h"
#include "platform/rpc/rpc.h"
#include "platform/rpc/socket.h"
#include "platform/rpc/status.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

std::string Compose(const char* endpoint, const char* options = nullptr) {
    RPC_CSTR text = nullptr;
    EXPECT_EQ(RpcStringBindingComposeA(nullptr, "ncalrpc", nullptr, endpoint, options, &text), RPC_S_OK);
    std::string result = text ? text : "";
    EXPECT_EQ(RpcStringFreeA(&text), RPC_S_OK);
    EXPECT_EQ(text, nullptr);
    return result;
}

RPC_STATUS FromString(const std::string& text, std::string* endpoint) {
    RPC_BINDING_HANDLE binding = nullptr;
    const RPC_STATUS status = RpcBindingFromStringBindingA(text.c_str(), &binding);
    if (status == RPC_S_OK) {
        *endpoint = binding->endpoint;
        EXPECT_EQ(RpcBindingFree(&binding), RPC_S_OK);
        EXPECT_EQ(binding, nullptr);
    } else {
        EXPECT_EQ(binding, nullptr);
    }
    return status;
}

}  // namespace

TEST(StringBinding, ComposesAndParsesBackEveryEndpoint) {
    EXPECT_EQ(Compose("sink"), "ncalrpc:[sink]");
    EXPECT_EQ(Compose("a]b,c\\d"), "ncalrpc:[a\\]b\\,c\\\\d]");
    for (const char* endpoint : {"sink", "a]b,c\\d", "[x]", "name with blanks(1)", "\\", "]"}) {
        std::string parsed;
        ASSERT_EQ(FromString(Compose(endpoint), &parsed), RPC_S_OK) << endpoint;
        EXPECT_EQ(parsed, endpoint);
    }
    std::string parsed;
    ASSERT_EQ(FromString(Compose("ep", "opt=1"), &parsed), RPC_S_OK);
    EXPECT_EQ(parsed, "ep");
}

TEST(StringBinding, RefusesWhatCannotNameALocalEndpoint) {
    std::string parsed;
    EXPECT_EQ(FromString("ncacn_ip_tcp:[80]", &parsed), RPC_S_PROTSEQ_NOT_SUPPORTED);
    EXPECT_EQ(FromString("ncalrpc", &parsed), RPC_S_INVALID_STRING_BINDING);
    EXPECT_EQ(FromString("ncalrpc:", &parsed), RPC_S_INVALID_ENDPOINT_FORMAT);
    EXPECT_EQ(FromString("ncalrpc:[]", &parsed), RPC_S_INVALID_ENDPOINT_FORMAT);
    EXPECT_EQ(FromString("ncalrpc:[a]b]", &parsed), RPC_S_INVALID_STRING_BINDING);
    EXPECT_EQ(FromString(Compose(std::string(kEndpointMax, 'e').c_str()), &parsed), RPC_S_OK);
    EXPECT_EQ(FromString(Compose(std::string(kEndpointMax + 1, 'e').c_str()), &parsed), RPC_S_INVALID_ENDPOINT_FORMAT);
    RPC_BINDING_HANDLE binding = nullptr;
    EXPECT_EQ(RpcBindingFromStringBindingA(nullptr, &binding), RPC_S_INVALID_STRING_BINDING);
    EXPECT_EQ(RpcBindingFree(&binding), RPC_S_INVALID_BINDING);
    RPC_CSTR text = nullptr;
    EXPECT_EQ(RpcStringBindingComposeA("00000000-0000-0000-0000-000000000001", "ncalrpc", nullptr, "e", nullptr, &text),
              RPC_S_INVALID_ARG);
}

TEST(StringBinding, BindingsToOneEndpointShareOneChannel) {
    RPC_BINDING_HANDLE a = nullptr, b = nullptr, c = nullptr;
    ASSERT_EQ(RpcBindingFromStringBindingA("ncalrpc:[shared]", &a), RPC_S_OK);
    ASSERT_EQ(RpcBindingFromStringBindingA("ncalrpc:[shared]", &b), RPC_S_OK);
    ASSERT_EQ(RpcBindingFromStringBindingA("ncalrpc:[other]", &c), RPC_S_OK);
    EXPECT_EQ(a->channel, b->channel);
    EXPECT_NE(a->channel, c->channel);
    std::weak_ptr<CClientChannel> channel = a->channel;
    RpcBindingFree(&a);
    EXPECT_FALSE(channel.expired());
    RpcBindingFree(&b);
    EXPECT_TRUE(channel.expired());
    RpcBindingFree(&c);
}

TEST(TransportStatus, ErrnoMapping) {
    EXPECT_EQ(RpcStatusFromConnectErrno(ENOENT), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(RpcStatusFromConnectErrno(ECONNREFUSED), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(RpcStatusFromConnectErrno(EAGAIN), RPC_S_SERVER_TOO_BUSY);
    EXPECT_EQ(RpcStatusFromConnectErrno(EACCES), RPC_S_CALL_FAILED_DNE);
    EXPECT_EQ(RpcStatusFromSendErrno(EPIPE), RPC_S_CALL_FAILED);
    EXPECT_EQ(RpcStatusFromSendErrno(ECONNRESET), RPC_S_CALL_FAILED);
    EXPECT_EQ(RpcStatusFromSendErrno(EAGAIN), RPC_S_CALL_FAILED_DNE);
}

TEST(EndpointMapNames, EscapeKeepsOneLineAndRoundTrips) {
    const std::string annotation("a%b\nc\0d #12 @x", 14);
    const std::string escaped = EndpointMapEscape(annotation);
    EXPECT_EQ(escaped, "a%25b%0Ac%00d #12 @x");
    EXPECT_EQ(EndpointMapUnescape(escaped), annotation);
    EXPECT_FALSE(EndpointMapUnescape("a%2").has_value());
    EXPECT_FALSE(EndpointMapUnescape("a%zz").has_value());
    EXPECT_EQ(EndpointMapUnescape("%4a%4A"), "JJ");
}

TEST(EndpointMapNames, ReadsEntriesFromProcNetUnixLines) {
    const UUID uuid{0xf7ca7934, 0x33a7, 0x42f1, {0x9e, 0x20, 0xb3, 0xbb, 0xe8, 0x40, 0xba, 0x9b}};
    EXPECT_EQ(EndpointMapUuidText(uuid), "f7ca7934-33a7-42f1-9e20-b3bbe840ba9b");
    const std::string prefix = "0000000000000000: 00000002 00000000 00000000 0001 01   123 ";
    auto entry = EndpointMapParseLine(prefix + "@mbus/epmap/f7ca7934-33a7-42f1-9e20-b3bbe840ba9b/abc%20x #12");
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(std::memcmp(&entry->uuid, &uuid, sizeof uuid), 0);
    EXPECT_EQ(entry->annotation, "abc x #12");
    entry = EndpointMapParseLine(prefix + "@mbus/epmap/F7CA7934-33A7-42F1-9E20-B3BBE840BA9B/");
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->annotation, "");

    const char* refused[] = {
        "mbus/epmap/f7ca7934-33a7-42f1-9e20-b3bbe840ba9b/abc",  // a file path, not abstract
        "@mbus/ncalrpc/abc",
        "@mbus/epmap/f7ca7934-33a7-42f1-9e20-b3bbe840ba9/abc",
        "@mbus/epmap/f7ca7934x33a7-42f1-9e20-b3bbe840ba9b/abc",
        "@mbus/epmap/f7ca7934-33a7-42f1-9e20-b3bbe840ba9bxabc",
        "@mbus/epmap/f7ca7934-33a7-42f1-9e20-b3bbe840ba9b/bad%escape",
    };
    for (const char* path : refused) EXPECT_FALSE(EndpointMapParseLine(prefix + path).has_value()) << path;
    EXPECT_FALSE(EndpointMapParseLine("Num       RefCount Protocol Flags    Type St Inode Path").has_value());
    EXPECT_FALSE(EndpointMapParseLine("0000000000000000: 00000002 00000000 00000000 0001 01 123").has_value());
}
