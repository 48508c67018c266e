// `mbus query`: sends a query from a sink of its own and prints the reply.
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "commands.h"
#include "tool.h"
#include "values.h"

namespace {

// A traced delivery failure does not signal the event, so the wait looks for one this often.
constexpr long kFailureCheckMs = 20;

// Waits up to timeoutMs for a reply on `service`: the reply item, or null on time-out or once a
// delivery failure was traced after `failuresBefore`. Other messages that turn up are dropped.
MbItem AwaitReply(MbSinkService service, MbEvent event, unsigned long timeoutMs, unsigned failuresBefore) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (CLibrary::RpcFailures() == failuresBefore) {
        MbItem message = nullptr;
        const MbResult code = MbSinkServiceTake(service, &message);
        if (code == MbReceivedReply) return message;
        if (message != nullptr) MbHandleRelease(message);
        if (code != MbNothingReceived) continue;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return nullptr;
        WaitForSingleObject(event, static_cast<DWORD>(std::min(left.count(), kFailureCheckMs)));
    }
    return nullptr;
}

int Query(const CCommandLine& line, MbEvent event) {
    const std::string& target = line.args[0];
    const unsigned long timeoutMs = line.Number("--timeout", 5000);
    CItemRef procedure;
    CItemRef argument;
    if (!GivenWord('s', line.args[2], &procedure) || !GivenItem(line, 3, &argument)) return kExitUsage;
    const std::string ownName = "mbus-query-" + std::to_string(getpid());
    CHeld<MbSinkClose> sink(MbSinkOpen(ownName.c_str(), event));
    CHeld<MbSinkServiceClose> replies(MbSinkServiceOpen(sink.Get(), "reply", event));
    if (replies.Get() == nullptr) return Failure("cannot open the sink '" + ownName + "' for the reply");
    const uint32_t cookie = static_cast<uint32_t>(getpid());
    const unsigned failuresBefore = CLibrary::RpcFailures();
    if (!QueueMessage(target, line.args[1], [&](MbSource, MbService proxy) {
            return MbServiceQueryCookie(proxy, 0, procedure.Get(), argument.Get(), replies.Get(), cookie, 0) != 0;
        })) {
        return kExitFailed;
    }
    CItemRef reply(AwaitReply(replies.Get(), event, timeoutMs, failuresBefore));
    if (reply.Get() != nullptr) {
        PrintLine(ShowItem(reply.Get(), line.Has("--json")));
        return kExitOk;
    }
    if (CLibrary::RpcFailures() != failuresBefore) return Failure("the sink '" + target + "' could not be reached");
    return Failure("no reply from '" + target + "' within " + std::to_string(timeoutMs) + " ms");
}

}  // namespace

// The sink, its service and the items are closed before the library ends, the event after.
int QueryCommand(const CCommandLine& line) {
    CLibrary library;
    if (!library.Ready()) return kExitFailed;
    const MbEvent event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    const int result = Query(line, event);
    CloseHandle(event);
    return result;
}
