// The commands that send to another process's sink: send, call, query and test.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "tool.h"

namespace {

// The procedure and, when given, the argument of a call or query, as String items.
struct CCallItems {
    explicit CCallItems(const CArgs& args)
        : procedure(MbAtomNewString(args[2].c_str())),
          argument(args.size() > 3 ? MbAtomNewString(args[3].c_str()) : nullptr) {}
    CItemRef procedure;
    CItemRef argument;
};

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

}  // namespace

int SendCommand(const CArgs& args) {
    if (args.size() != 3) return kExitUsage;
    CLibrary library;
    if (!library.Ready()) return kExitFailed;
    const std::string& text = args[2];
    if (text.size() > 65535) {
        std::fprintf(stderr, "mbus: a message holds at most 65535 bytes\n");
        return kExitFailed;
    }
    return SendAndConfirm(library, args[0], args[1], [&](MbSource, MbService proxy) {
        return MbServiceSend(proxy, 0, text.data(), static_cast<uint16_t>(text.size())) != 0;
    });
}

int CallCommand(const CArgs& args) {
    if (args.size() != 3 && args.size() != 4) return kExitUsage;
    CLibrary library;
    if (!library.Ready()) return kExitFailed;
    // The items go before SendAndConfirm ends the library.
    return SendAndConfirm(library, args[0], args[1], [&](MbSource, MbService proxy) {
        const CCallItems items(args);
        return MbServiceCall(proxy, 0, items.procedure.Get(), items.argument.Get()) != 0;
    });
}

// Opens a sink of its own with a "reply" service, so that the answer has somewhere to go.
int QueryCommand(const CArgs& arguments) {
    CArgs args = arguments;
    std::vector<std::string> options;
    unsigned long timeoutMs = 5000;
    if (!ParseOptions(&args, {"--timeout"}, &options) || (args.size() != 3 && args.size() != 4) ||
        (!options[0].empty() && !ParseNumber(options[0], 0, 86400000, &timeoutMs))) {
        return kExitUsage;
    }
    CLibrary library;
    if (!library.Ready()) return kExitFailed;
    const std::string ownName = "mbus-query-" + std::to_string(getpid());
    const MbEvent event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    int result = kExitFailed;
    {
        CHeld<MbSinkClose> sink(MbSinkOpen(ownName.c_str(), event));
        CHeld<MbSinkServiceClose> replies(MbSinkServiceOpen(sink.Get(), "reply", event));
        CCallItems items(args);
        const uint32_t cookie = static_cast<uint32_t>(getpid());
        const unsigned failuresBefore = CLibrary::RpcFailures();
        if (replies.Get() == nullptr) {
            std::fprintf(stderr, "mbus: cannot open the sink '%s' for the reply\n", ownName.c_str());
        } else if (QueueMessage(args[0], args[1], [&](MbSource, MbService proxy) {
                       return MbServiceQueryCookie(proxy, 0, items.procedure.Get(), items.argument.Get(), replies.Get(),
                                                   cookie, 0) != 0;
                   })) {
            CItemRef reply(AwaitReply(replies.Get(), event, timeoutMs, failuresBefore));
            if (reply.Get() != nullptr) {
                PrintLine(ItemText(reply.Get()));
                result = kExitOk;
            } else if (CLibrary::RpcFailures() != failuresBefore) {
                std::fprintf(stderr, "mbus: the sink '%s' could not be reached\n", args[0].c_str());
            } else {
                std::fprintf(stderr, "mbus: no reply from '%s' within %lu ms\n", args[0].c_str(), timeoutMs);
            }
        }
    }
    CloseHandle(event);
    return result;
}

// The transport reports a failed delivery only by a trace, which SendAndConfirm looks for.
int TestCommand(const CArgs& args) {
    if (args.size() != 1 && args.size() != 2) return kExitUsage;
    CLibrary library;
    if (!library.Ready()) return kExitFailed;
    const bool toService = args.size() == 2;
    const int result =
        SendAndConfirm(library, args[0], toService ? args[1] : "", [&](MbSource source, MbService proxy) {
            return (toService ? MbServiceTest(proxy) : MbSourceTest(source)) != 0;
        });
    PrintLine(result == kExitOk ? "ok: the sink '" + args[0] + "' took the test"
                                : "failed: the sink '" + args[0] + "' did not take the test");
    return result;
}
