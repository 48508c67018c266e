#include "runtime/process.h"

namespace process {

std::atomic<CUserTracer*> userTracer{nullptr};
std::atomic<CTracker*> tracker{nullptr};
std::atomic<CRPCManager*> rpcManager{nullptr};

}  // namespace process
