// Peer helper of the multi-process RPC tests. Commands (one per run, results on stdout):
//   serve ENDPOINT         registers ENDPOINT with the annotation "ENDPOINT #PID", prints
//                          "ready", serves until its stdin closes, then withdraws and exits
//   bind ENDPOINT          tries to take ENDPOINT and prints the status
//   send ENDPOINT N BATCH  delivers N calls (kind 1, service "peer", data = index as 4 bytes
//                          little-endian) in batches of BATCH calls, prints "sent" or "failed S"
#include "platform/rpc/batch.h"
#include "platform/rpc/deliver.h"
#include "platform/rpc/status.h"
#include "support/rpc_test_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Serve(const std::string& endpoint) {
    const std::string annotation = endpoint + " #" + std::to_string(getpid());
    CTestServer server;
    if (RPC_STATUS status = server.Start(endpoint, annotation.c_str())) {
        std::printf("failed %ld\n", status);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    char byte;
    while (read(0, &byte, 1) > 0) {
    }
    return server.Stop() == RPC_S_OK ? 0 : 1;
}

int Bind(const std::string& endpoint) {
    CTestServer server;
    std::printf("%ld\n", server.Start(endpoint));
    return 0;
}

int Send(const std::string& endpoint, uint32_t count, uint32_t batchSize) {
    RPC_BINDING_HANDLE binding = TestBind(endpoint);
    RPC_STATUS failed = binding ? RPC_S_OK : RPC_S_INVALID_BINDING;
    for (uint32_t sent = 0; sent < count && failed == RPC_S_OK;) {
        CRpcBatch batch;
        for (uint32_t i = 0; i < batchSize && sent < count; ++i, ++sent) {
            const uint8_t data[4] = {static_cast<uint8_t>(sent), static_cast<uint8_t>(sent >> 8),
                                     static_cast<uint8_t>(sent >> 16), static_cast<uint8_t>(sent >> 24)};
            failed = DeliverStatus(binding, "peer", 0, 1, data, sizeof data);
            if (failed != RPC_S_OK) break;
        }
        const std::vector<CRpcCallFailure> failures = batch.End();
        if (failed == RPC_S_OK && !failures.empty()) failed = failures.front().status;
    }
    RpcBindingFree(&binding);
    if (failed != RPC_S_OK) {
        std::printf("failed %ld\n", failed);
        return 1;
    }
    std::printf("sent\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "serve") == 0) return Serve(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "bind") == 0) return Bind(argv[2]);
    if (argc == 5 && std::strcmp(argv[1], "send") == 0) {
        return Send(argv[2], static_cast<uint32_t>(std::atoi(argv[3])), static_cast<uint32_t>(std::atoi(argv[4])));
    }
    std::fprintf(stderr, "usage: peer serve|bind ENDPOINT | send ENDPOINT N BATCH\n");
    return 2;
}
