#include "platform/rpc/binding.h"
#include "platform/rpc/socket.h"

#include <gtest/gtest.h>

namespace {

std::string Compose(const std::string& endpoint) {
    RPC_CSTR text = nullptr;
    EXPECT_EQ(RpcStringBindingComposeA(nullptr, "ncalrpc", nullptr, endpoint.c_str(), nullptr, &text), RPC_S_OK);
    std::string result = text ? text : "";
    RpcStringFreeA(&text);
    return result;
}

// The status of parsing text, and the endpoint the binding names.
RPC_STATUS FromString(const std::string& text, std::string* endpoint = nullptr) {
    RPC_BINDING_HANDLE binding = nullptr;
    const RPC_STATUS status = RpcBindingFromStringBindingA(text.c_str(), &binding);
    EXPECT_EQ(binding != nullptr, status == RPC_S_OK) << text;
    if (binding && endpoint) *endpoint = binding->endpoint;
    EXPECT_EQ(RpcBindingFree(&binding), binding ? RPC_S_OK : RPC_S_INVALID_BINDING);
    return status;
}

}  // namespace

TEST(StringBinding, ComposesAndParsesBackEveryEndpoint) {
    EXPECT_EQ(Compose("a]b,c\\d"), "ncalrpc:[a\\]b\\,c\\\\d]");
    for (const char* endpoint : {"sink", "a]b,c\\d", "[x]", "name with blanks(1)", "\\", "]"}) {
        std::string parsed;
        ASSERT_EQ(FromString(Compose(endpoint), &parsed), RPC_S_OK) << endpoint;
        EXPECT_EQ(parsed, endpoint);
    }
    const std::pair<std::string, RPC_STATUS> cases[] = {
        {"ncalrpc:[ep,opt=1]", RPC_S_OK},
        {"ncacn_ip_tcp:[80]", RPC_S_PROTSEQ_NOT_SUPPORTED},
        {"ncalrpc", RPC_S_INVALID_STRING_BINDING},
        {"ncalrpc:", RPC_S_INVALID_ENDPOINT_FORMAT},
        {"ncalrpc:[]", RPC_S_INVALID_ENDPOINT_FORMAT},
        {"ncalrpc:[a]b]", RPC_S_INVALID_STRING_BINDING},
        {Compose(std::string(kEndpointMax, 'e')), RPC_S_OK},
        {Compose(std::string(kEndpointMax + 1, 'e')), RPC_S_INVALID_ENDPOINT_FORMAT},
    };
    for (const auto& [text, status] : cases) EXPECT_EQ(FromString(text), status) << text;
}

// One channel per endpoint per process, living as long as any of its bindings.
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
