/* The sending half of the demo: a controller with its own sink "demo-sender" (to receive
   replies). It links to the thermostat, calls, queries and waits for the reply, advises and
   updates the control state, tests the link, lists the sinks and stops the thermostat. */
#define _POSIX_C_SOURCE 200809L

#include <mbus/mbus.h>
#include <mbus/win32.h>
#include <time.h>

#include "demo_common.h"

/* Waits until a sink of that name is listed on the machine, at most 5 s. */
static int WaitForSink(const char* name) {
    for (int i = 0; i < 100; ++i) {
        MbItem names = NULL;
        if (MbSinkListEx(MbSinkListName | MbSinkListNoSession | MbSinkListOwnSession, &names) == MbResultOk) {
            uint16_t count = 0;
            MbItemGetCount(names, &count);
            for (uint16_t j = 0; j < count; ++j) {
                MbItem entry = NULL;
                const char* text = NULL;
                uint16_t length = 0;
                MbItemGetAt(names, j, &entry);
                int match = MbAtomGetString(entry, &text, &length) == MbResultOk && strlen(name) == length &&
                            memcmp(text, name, length) == 0;
                MbHandleRelease(entry);
                if (match) {
                    MbHandleRelease(names);
                    return 1;
                }
            }
            MbHandleRelease(names);
        }
        struct timespec pause = {0, 50 * 1000 * 1000};
        nanosleep(&pause, NULL);
    }
    return 0;
}

int main(void) {
    demoProgram = "sender";
    if (!MbLibraryInit()) return 1;
    MbTracerSet(DemoTrace);
    HANDLE replyEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    MbSink sink = MbSinkOpen("demo-sender", NULL);
    MbSinkService replies = MbSinkServiceOpen(sink, "replies", replyEvent);
    if (sink == NULL || replies == NULL || !WaitForSink("demo-thermostat")) {
        printf("sender: the thermostat did not appear\n");
        return 1;
    }
    MbSource source = MbSinkOpenSource(sink, "demo-thermostat");
    MbService control = MbServiceOpen(source, "control");
    printf("sender: linked to demo-thermostat, service control\n");

    MbItem setpoint = MbAtomNewString("setpoint");
    MbItem value = MbAtomNewReal(21.5);
    MbServiceCall(control, 0, setpoint, value);

    MbItem temperature = MbAtomNewString("temperature");
    MbServiceQueryCookie(control, 0, temperature, NULL, replies, 1, 0);
    MbItem reply = NULL;
    MbResult code = MbNothingReceived;
    for (int i = 0; i < 50 && code == MbNothingReceived; ++i) {
        code = MbSinkServiceTake(replies, &reply);
        if (code == MbNothingReceived) WaitForSingleObject(replyEvent, 100);
    }
    if (code == MbReceivedReply) {
        DemoPrintItem("reply", reply);
        MbHandleRelease(reply);
    } else {
        printf("sender: no reply\n");
    }

    MbItem advised = MbBuild("{s:s,s:r}", "mode", "heat", "setpoint", 21.5);
    MbItem update = MbBuild("{s:b,s:i}", "fan", 1, "zone", 2);
    MbServiceAdvise(control, 0, advised);
    MbServiceUpdate(control, 0, update);
    printf("sender: test of the link queued: %d\n", MbServiceTest(control));

    MbItem sinks = NULL;
    if (MbSinkListEx(MbSinkListNoSession | MbSinkListOwnSession | MbSinkListSelf, &sinks) == MbResultOk) {
        DemoPrintItem("sinks on this machine", sinks);
        MbHandleRelease(sinks);
    }
    MbItem peers = NULL;
    if (MbSinkGetPeers(sink, &peers) == MbResultOk && peers != NULL) {
        DemoPrintItem("peers (name: flags, Local=2 Remote=4)", peers);
        MbHandleRelease(peers);
    }
    printf("sender: peer pid of demo-thermostat: %u\n", MbSourceGetPid(source));

    MbItem stop = MbAtomNewString("stop");
    MbServiceCall(control, 0, stop, NULL);
    /* The thermostat closes its link back on the way out: wait for that notice, so it finds
       this sink still open. */
    for (int i = 0; i < 40 && (MbSinkGetPeerFlags(sink, "demo-thermostat") & MbPeerRemote) != 0; ++i) {
        struct timespec pause = {0, 50 * 1000 * 1000};
        nanosleep(&pause, NULL);
    }
    printf("sender: thermostat link flags after stop: %u\n", MbSinkGetPeerFlags(sink, "demo-thermostat"));
    MbItem items[] = {setpoint, value, temperature, advised, update, stop};
    for (size_t i = 0; i < sizeof items / sizeof items[0]; ++i) MbHandleRelease(items[i]);
    MbServiceClose(control);
    MbSourceClose(source);
    MbSinkServiceClose(replies);
    MbSinkClose(sink);
    MbLibraryTerm();
    CloseHandle(replyEvent);
    printf("sender: done\n");
    return code == MbReceivedReply ? 0 : 1;
}
