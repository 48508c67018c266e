/* An outside program: builds a tree, checks its text form and its stored form, and waits on
   an event, through the installed headers and library only. */
#include <mbus/mbus.h>
#include <mbus/win32.h>
#include <stdio.h>
#include <string.h>

static int TextIs(MbItem item, const char* expected) {
    MbItem text = MbItemToText(item, 0);
    const void* bytes = NULL;
    uint16_t length = 0;
    int same = MbAtomGetBlob(text, &bytes, &length) == MbResultOk && strcmp(bytes, expected) == 0;
    MbHandleRelease(text);
    return same;
}

int main(void) {
    if (!MbLibraryInit() || MbVersionGet() != MbLibraryVersion) return 1;
    MbItem tree = MbBuild("{s:i,s:[s,s]}", "id", 7, "tags", "a", "b");
    MbItem bytes = MbItemToBytes(tree);
    MbItem copy = MbItemFromBytes(bytes);
    HANDLE event = CreateEventA(NULL, FALSE, TRUE, NULL);
    int ok = TextIs(copy, "{\"id\":7, \"tags\":[\"a\", \"b\"]}") && WaitForSingleObject(event, 0) == WAIT_OBJECT_0 &&
             WaitForSingleObject(event, 0) == WAIT_TIMEOUT;
    CloseHandle(event);
    MbHandleRelease(copy);
    MbHandleRelease(bytes);
    MbHandleRelease(tree);
    MbLibraryTerm();
    puts(ok ? "consumer: ok" : "consumer: wrong results");
    return ok ? 0 : 1;
}
