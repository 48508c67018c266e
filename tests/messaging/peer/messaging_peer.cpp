// The other process of the multi-process messaging tests. Uses only the public interface.
//   messaging_peer receiver NAME   opens sink NAME and prints "ready" once its default service
//                                  takes messages; answers queries, and calls:
//                                  "connect" (arg: a sink name) opens a source back to it,
//                                  "quit" ends the process. Ends by itself after 30 s.
//   messaging_peer garbage NAME    posts undecodable payloads of every item kind to NAME.
//   messaging_peer send NAME N     sends N calls to NAME, each in a library lifetime of its
//                                  own; prints its trace lines, then "sent".
// "as UID" before the mode runs the peer as that user (and group), dropped to before anything else.
#include <mbus/win32.h>

#include <grp.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The text of the String item under key in map ("" when there is none), or of item itself
// when key is null.
std::string StringOf(MbItem item, const char* key = nullptr) {
    MbItem field = item;
    if (key != nullptr && MbMapGetNamed(item, key, &field) != MbResultOk) return std::string();
    const char* text = nullptr;
    uint16_t length = 0;
    std::string result = MbAtomGetString(field, &text, &length) == MbResultOk ? std::string(text, length) : "";
    if (key != nullptr) MbHandleRelease(field);
    return result;
}

// Answers a query through a proxy for the querying sink's named service.
void Answer(MbItem query) {
    MbItem cookie = nullptr, procedure = nullptr;
    MbMapGetNamed(query, "cookie", &cookie);
    MbMapGetNamed(query, "proc", &procedure);
    MbSource back = MbSourceOpen(StringOf(query, "source").c_str());
    MbService proxy = MbServiceOpen(back, StringOf(query, "service").c_str());
    MbItem result = MbBuild("{s:s,s:u}", "answer", "pong", "pid", static_cast<unsigned>(getpid()));
    MbServiceReply(proxy, 0, procedure, cookie, result);
    for (MbItem item : {cookie, procedure, result}) MbHandleRelease(item);
    MbServiceClose(proxy);
    MbSourceClose(back);
}

int Receiver(const char* name) {
    MbEvent event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    MbSink sink = MbSinkOpen(name, event);
    if (sink == nullptr) return 2;
    // Replacing the default service drops what the registered one received. The sink is listed
    // from MbSinkOpen on, so the tests wait for "ready" before they send.
    MbSinkService service = MbSinkServiceOpen(sink, "_default", event);
    std::printf("ready\n");
    std::fflush(stdout);
    MbSource back = nullptr;
    bool running = true;
    for (int waited = 0; running && waited < 300;) {
        MbItem message = nullptr;
        const MbResult code = MbSinkServiceTake(service, &message);
        if (code == MbNothingReceived) {
            if (WaitForSingleObject(event, 100) == WAIT_TIMEOUT) ++waited;
            continue;
        }
        if (code == MbReceivedQuery) Answer(message);
        // A link back says how it went: the linked sink's trace shows only a notice that arrived,
        // not a link that was never tried.
        if (code == MbReceivedCall && StringOf(message, "proc") == "connect") {
            const std::string to = StringOf(message, "arg");
            back = MbSinkOpenSource(sink, to.c_str());
            std::fprintf(stderr, "peer: link back to %s %s\n", to.c_str(), back != nullptr ? "opened" : "FAILED");
        }
        if (code == MbReceivedCall && StringOf(message) == "quit") running = false;
        MbHandleRelease(message);
    }
    MbSourceClose(back);
    MbSinkServiceClose(service);
    MbSinkClose(sink);
    CloseHandle(event);
    return 0;
}

int Garbage(const char* name) {
    MbSource source = MbSourceOpen(name);
    MbService proxy = MbServiceOpen(source, "");
    if (proxy == nullptr) return 2;
    const uint8_t bytes[] = {'K', 'v', 'b', 0, 16, 1, 82, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'Z', 9, 9};
    for (uint16_t kind = MbKindAdvise; kind <= MbKindReply; ++kind) {
        MbServicePost(proxy, 0, kind, bytes, sizeof bytes);
        MbServicePost(proxy, 0, kind, nullptr, 0);
    }
    MbServiceClose(proxy);
    MbSourceClose(source);  // waits for the queued messages to be sent
    return 0;
}

// The peer's own trace lines go to stderr, where a failing test shows them; a sender's go to
// stdout, where the test reads them.
FILE* traceOut = stderr;
void PrintTrace(const char* text, uint32_t) {
    std::fprintf(traceOut, "peer: %s", text);
}

// Each call in a library lifetime of its own, whose end waits for the call's batch and so for
// its report: one connection attempt per call.
int Send(const char* name, int count) {
    traceOut = stdout;
    for (int i = 0; i < count; ++i) {
        if (MbLibraryInit() != 1) return 2;
        MbTracerSet(&PrintTrace);
        MbSource source = MbSourceOpen(name);
        MbService proxy = MbServiceOpen(source, "");
        MbItem text = MbAtomNewString("hi");
        const bool queued = MbServiceCall(proxy, 0, text, nullptr) == 1;
        MbHandleRelease(text);
        MbServiceClose(proxy);
        MbSourceClose(source);
        MbLibraryTerm();
        if (!queued) return 2;
    }
    std::printf("sent\n");
    return 0;
}

// A process that changed its user is not dumpable, which the leak checker of a sanitized build
// needs at exit.
bool BecomeUser(const char* uid) {
    const uid_t user = static_cast<uid_t>(std::strtoul(uid, nullptr, 10));
    return setgroups(0, nullptr) == 0 && setgid(user) == 0 && setuid(user) == 0 && prctl(PR_SET_DUMPABLE, 1) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "as") == 0) {
        if (!BecomeUser(argv[2])) return 3;
        argc -= 2;
        argv += 2;
    }
    if (argc == 4 && std::strcmp(argv[1], "send") == 0) return Send(argv[2], std::atoi(argv[3]));
    if (argc != 3 || MbLibraryInit() != 1) return 2;
    MbTracerSet(&PrintTrace);
    const int status = std::strcmp(argv[1], "receiver") == 0 ? Receiver(argv[2])
                       : std::strcmp(argv[1], "garbage") == 0 ? Garbage(argv[2])
                                                               : 2;
    MbLibraryTerm();
    return status;
}
