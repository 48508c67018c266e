// Peer helper of the multi-process RPC tests: "peer ENDPOINT" registers ENDPOINT with the
// annotation "ENDPOINT #PID", prints the status and, when it is 0, serves until killed.
#include "support/rpc_test_support.h"

#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string annotation = std::string(argv[1]) + " #" + std::to_string(getpid());
    CTestServer server;
    const RPC_STATUS status = server.Start(argv[1], annotation.c_str());
    std::printf("%ld\n", status);
    std::fflush(stdout);
    while (status == RPC_S_OK) pause();
    return 0;
}
