/* The receiving half of the demo: a thermostat with the sink "demo-thermostat" and a
   "control" service. It answers queries, shows the state its controller advises and updates,
   links back to whoever connects, and stops on the call "stop" (or after 15 s). */
#include <mbus/mbus.h>
#include <mbus/win32.h>

#include "demo_common.h"

static int IsProcedure(MbItem message, const char* name) {
    MbItem procedure = NULL;
    const char* text = NULL;
    uint16_t length = 0;
    int match = 0;
    if (MbMapGetNamed(message, "proc", &procedure) != MbResultOk) {
        procedure = message;
        MbHandleAddRef(procedure);
    }
    if (MbAtomGetString(procedure, &text, &length) == MbResultOk) {
        match = strlen(name) == length && memcmp(text, name, length) == 0;
    }
    MbHandleRelease(procedure);
    return match;
}

static void Answer(MbItem query) {
    MbItem source = NULL, service = NULL, cookie = NULL, procedure = NULL;
    const char* sourceName = "";
    const char* serviceName = "";
    uint16_t length = 0;
    MbMapGetNamed(query, "source", &source);
    MbMapGetNamed(query, "service", &service);
    MbMapGetNamed(query, "cookie", &cookie);
    MbMapGetNamed(query, "proc", &procedure);
    MbAtomGetString(source, &sourceName, &length);
    MbAtomGetString(service, &serviceName, &length);
    MbSource back = MbSourceOpen(sourceName);
    MbService proxy = MbServiceOpen(back, serviceName);
    MbItem result = MbBuild("{s:r,s:s}", "celsius", 21.5, "unit", "C");
    printf("%s: answering %s.%s\n", demoProgram, sourceName, serviceName);
    MbServiceReply(proxy, 0, procedure, cookie, result);
    MbHandleRelease(result);
    MbServiceClose(proxy);
    MbSourceClose(back);
    MbHandleRelease(source);
    if (service != NULL) MbHandleRelease(service);
    if (cookie != NULL) MbHandleRelease(cookie);
    MbHandleRelease(procedure);
}

int main(void) {
    demoProgram = "receiver";
    if (!MbLibraryInit()) return 1;
    MbTracerSet(DemoTrace);
    HANDLE sinkEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    HANDLE controlEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    MbSink sink = MbSinkOpen("demo-thermostat", sinkEvent);
    if (sink == NULL) {
        printf("receiver: cannot open the sink demo-thermostat (is another receiver running?)\n");
        return 1;
    }
    MbSinkService control = MbSinkServiceOpen(sink, "control", controlEvent);
    MbSinkService fallback = MbSinkServiceOpen(sink, "_default", sinkEvent);
    MbSource link = NULL;
    printf("receiver: sink demo-thermostat open, waiting for messages\n");
    fflush(stdout);

    int running = 1;
    for (int idle = 0; running && idle < 150;) {
        HANDLE events[2] = {controlEvent, sinkEvent};
        DWORD woken = WaitForMultipleObjects(2, events, FALSE, 100);
        if (woken == WAIT_TIMEOUT) {
            ++idle;
            continue;
        }
        MbItem message = NULL;
        MbResult code;
        while ((code = MbSinkServiceTake(control, &message)) != MbNothingReceived) {
            if (code == MbReceivedCall) {
                DemoPrintItem("call", message);
                if (IsProcedure(message, "stop")) running = 0;
            } else if (code == MbReceivedQuery) {
                DemoPrintItem("query", message);
                Answer(message);
            }
            if (message != NULL) MbHandleRelease(message);
        }
        MbItem state = NULL;
        MbSinkServiceGetState(control, &state);
        DemoPrintItem("control state", state);
        MbHandleRelease(state);

        /* Connection updates arrive in the default service's state: link back to new peers. */
        MbSinkServiceGetState(fallback, &state);
        uint16_t peers = 0;
        if (MbItemGetCount(state, &peers) == MbResultOk && peers > 0 && link == NULL) {
            MbSinkConnect(sink, "demo-sender", &link);
        }
        MbHandleRelease(state);
        MbItem peerMap = NULL;
        if (MbSinkGetPeers(sink, &peerMap) == MbResultOk && peerMap != NULL) {
            DemoPrintItem("peers (name: flags, Local=2 Remote=4)", peerMap);
            printf("receiver: flags of demo-sender: %u\n", MbSinkGetPeerFlags(sink, "demo-sender"));
            MbHandleRelease(peerMap);
        }
    }
    printf("receiver: %s\n", running ? "no more messages, ending" : "stopped by the sender");
    if (link != NULL) MbSourceClose(link);
    /* The controller closes its link in answer: wait for its notice before the sink goes. */
    for (int i = 0; i < 40 && (MbSinkGetPeerFlags(sink, "demo-sender") & MbPeerRemote) != 0; ++i) {
        WaitForSingleObject(sinkEvent, 50);
    }
    MbSinkServiceClose(control);
    MbSinkServiceClose(fallback);
    MbSinkClose(sink);
    MbLibraryTerm();
    CloseHandle(controlEvent);
    CloseHandle(sinkEvent);
    return running ? 1 : 0;
}
