// The commands that send one message to another process's sink and wait until it went out:
// send, call, reply, advise, update and test.
#include "commands.h"
#include "tool.h"
#include "values.h"

namespace {

unsigned long Timeout(const CCommandLine& line) {
    return line.Number("--timeout", 0);
}

// The map of an advise or update: the one -f builds, else one of String KEY VALUE pairs.
bool StateMap(const CCommandLine& line, CItemRef* map) {
    const CArgs pairs(line.args.begin() + 2, line.args.end());
    std::string error;
    if (line.format && !pairs.empty()) {
        error = "give KEY VALUE pairs or -f, not both";
    } else if (pairs.size() % 2 != 0) {
        error = "the KEY '" + pairs.back() + "' has no VALUE";
    } else if (line.format) {
        map->Reset(BuildItem(*line.format, line.values, &error));
    } else {
        std::string format = "{";
        for (size_t i = 0; i < pairs.size(); i += 2) format += "s:s ";
        map->Reset(BuildItem(format + "}", pairs, &error));
    }
    uint32_t type = MbTypeUnknown;
    if (error.empty() && (MbItemGetType(map->Get(), &type) != MbResultOk || type != MbTypeMap)) {
        error = "a state is a map; format '" + *line.format + "' makes none";
    }
    if (error.empty()) return true;
    UsageError(error);
    return false;
}

int SendState(const CCommandLine& line, MbBool (*send)(MbService, uint32_t, MbItem)) {
    CLibrary library;
    CItemRef map;
    if (!library.Ready()) return kExitFailed;
    if (!StateMap(line, &map)) return kExitUsage;
    return SendAndConfirm(library, line.args[0], line.args[1], Timeout(line), {&map},
                          [&](MbSource, MbService proxy) { return send(proxy, 0, map.Get()) != 0; });
}

}  // namespace

int SendCommand(const CCommandLine& line) {
    const std::string& text = line.args[2];
    if (text.size() > 65535)
        return UsageError("a message holds at most 65535 bytes, not " + std::to_string(text.size()));
    CLibrary library;
    if (!library.Ready()) return kExitFailed;
    return SendAndConfirm(library, line.args[0], line.args[1], Timeout(line), {}, [&](MbSource, MbService proxy) {
        return MbServiceSend(proxy, 0, text.data(), static_cast<uint16_t>(text.size())) != 0;
    });
}

int CallCommand(const CCommandLine& line) {
    CLibrary library;
    CItemRef procedure;
    CItemRef argument;
    if (!library.Ready()) return kExitFailed;
    if (!GivenWord('s', line.args[2], &procedure) || !GivenItem(line, 3, &argument)) return kExitUsage;
    return SendAndConfirm(
        library, line.args[0], line.args[1], Timeout(line), {&procedure, &argument},
        [&](MbSource, MbService proxy) { return MbServiceCall(proxy, 0, procedure.Get(), argument.Get()) != 0; });
}

int ReplyCommand(const CCommandLine& line) {
    CLibrary library;
    CItemRef cookie;
    CItemRef procedure;
    CItemRef result;
    if (!library.Ready()) return kExitFailed;
    if (!GivenWord('c', line.args[2], &cookie) ||
        (line.Has("--proc") && !GivenWord('s', line.Text("--proc"), &procedure)) || !GivenItem(line, 3, &result)) {
        return kExitUsage;
    }
    return SendAndConfirm(library, line.args[0], line.args[1], Timeout(line), {&cookie, &procedure, &result},
                          [&](MbSource, MbService proxy) {
                              return MbServiceReply(proxy, 0, procedure.Get(), cookie.Get(), result.Get()) != 0;
                          });
}

int AdviseCommand(const CCommandLine& line) {
    return SendState(line, MbServiceAdvise);
}

int UpdateCommand(const CCommandLine& line) {
    return SendState(line, MbServiceUpdate);
}

// A test message to a sink goes to its default service; the sink traces it and answers nothing.
int TestCommand(const CCommandLine& line) {
    CLibrary library;
    if (!library.Ready()) return kExitFailed;
    const std::string& sink = line.args[0];
    const bool toService = line.args.size() == 2;
    const int result = SendAndConfirm(library, sink, toService ? line.args[1] : "", Timeout(line), {},
                                      [&](MbSource source, MbService proxy) {
                                          return (toService ? MbServiceTest(proxy) : MbSourceTest(source)) != 0;
                                      });
    PrintLine(result == kExitOk ? "ok: the sink '" + sink + "' took the test"
                                : "failed: the sink '" + sink + "' did not take the test");
    return result;
}
