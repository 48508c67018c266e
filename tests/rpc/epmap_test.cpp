#include "platform/rpc/deliver.h"
#include "platform/rpc/epmap.h"
#include "support/rpc_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Annotations(unsigned long inquiryType) {
    std::vector<std::string> found;
    RPC_EP_INQ_HANDLE inquiry = nullptr;
    EXPECT_EQ(RpcMgmtEpEltInqBegin(nullptr, inquiryType, &Deliver_v1_0_s_ifspec->id, RPC_C_VERS_ALL, nullptr, &inquiry),
              RPC_S_OK);
    RPC_CSTR annotation = nullptr;
    RPC_IF_ID id{};
    RPC_BINDING_HANDLE binding = reinterpret_cast<RPC_BINDING_HANDLE>(1);
    while (RpcMgmtEpEltInqNextA(inquiry, &id, &binding, nullptr, &annotation) == RPC_S_OK) {
        found.push_back(annotation);
        EXPECT_EQ(binding, nullptr);
        if (inquiryType == RPC_C_EP_MATCH_BY_IF) {
            EXPECT_EQ(EndpointMapUuidText(id.Uuid), EndpointMapUuidText(Deliver_v1_0_s_ifspec->id.Uuid));
        }
        RpcStringFreeA(&annotation);
    }
    EXPECT_EQ(RpcMgmtEpEltInqNextA(inquiry, nullptr, nullptr, nullptr, nullptr), RPC_X_NO_MORE_ENTRIES);
    EXPECT_EQ(RpcMgmtEpEltInqDone(&inquiry), RPC_S_OK);
    EXPECT_EQ(inquiry, nullptr);
    return found;
}

bool Contains(const std::vector<std::string>& list, const std::string& text) {
    for (const std::string& item : list) {
        if (item == text) return true;
    }
    return false;
}

}  // namespace

TEST(EndpointMap, RegisteredAnnotationsAreEnumeratedUntilWithdrawn) {
    const std::string endpoint = TestEndpoint("em");
    const std::string annotation = endpoint + "(7) %odd\nchars #" + std::to_string(getpid());
    CTestServer server;
    ASSERT_EQ(server.Start(endpoint, annotation.c_str()), RPC_S_OK);
    EXPECT_TRUE(Contains(Annotations(RPC_C_EP_MATCH_BY_IF), annotation));
    EXPECT_TRUE(Contains(Annotations(RPC_C_EP_ALL_ELTS), annotation));

    // The same annotation again while the first lives is refused.
    RPC_BINDING_VECTOR* vector = nullptr;
    ASSERT_EQ(RpcServerInqBindings(&vector), RPC_S_OK);
    EXPECT_EQ(RpcEpRegisterNoReplaceA(Deliver_v1_0_s_ifspec, vector, nullptr, annotation.c_str()),
              EPT_S_CANT_PERFORM_OP);
    EXPECT_EQ(RpcEpRegisterNoReplaceA(Deliver_v1_0_s_ifspec, vector, nullptr, std::string(60, 'a').c_str()),
              RPC_S_STRING_TOO_LONG);
    RPC_BINDING_VECTOR empty{0, nullptr};
    EXPECT_EQ(RpcEpRegisterNoReplaceA(Deliver_v1_0_s_ifspec, &empty, nullptr, "x"), RPC_S_NO_BINDINGS);
    RpcBindingVectorFree(&vector);

    ASSERT_EQ(server.Stop(), RPC_S_OK);
    EXPECT_FALSE(Contains(Annotations(RPC_C_EP_MATCH_BY_IF), annotation));
    ASSERT_EQ(server.Start(endpoint), RPC_S_OK);
    ASSERT_EQ(RpcServerInqBindings(&vector), RPC_S_OK);
    EXPECT_EQ(RpcEpUnregister(Deliver_v1_0_s_ifspec, vector, nullptr), EPT_S_NOT_REGISTERED);
    RpcBindingVectorFree(&vector);
}

TEST(EndpointMap, InquiryArgumentsAreChecked) {
    RPC_EP_INQ_HANDLE inquiry = nullptr;
    EXPECT_EQ(RpcMgmtEpEltInqBegin(nullptr, RPC_C_EP_MATCH_BY_IF, nullptr, RPC_C_VERS_ALL, nullptr, &inquiry),
              RPC_S_INVALID_ARG);
    EXPECT_EQ(RpcMgmtEpEltInqBegin(nullptr, 2, &Deliver_v1_0_s_ifspec->id, RPC_C_VERS_ALL, nullptr, &inquiry),
              RPC_S_INVALID_ARG);
    EXPECT_EQ(inquiry, nullptr);
    EXPECT_EQ(RpcMgmtEpEltInqDone(&inquiry), RPC_S_INVALID_ARG);
}
