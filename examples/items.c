/* Builds an item tree in one call, renders it as text, stores it as bytes, loads the bytes back
 * and checks that the loaded tree holds the same values. Exits 0 on success. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <mbus/mbus.h>

static void PrintTrace(const char* text, uint32_t category) {
    fprintf(stderr, "trace %u: %s\n", (unsigned)category, text);
}

/* Prints the text form of an item; returns 0 when it could not be rendered. */
static int PrintText(const char* label, MbItem item) {
    MbItem text = MbItemToText(item, 0);
    const void* data = NULL;
    uint16_t length = 0;
    int ok = MbAtomGetBlob(text, &data, &length) == MbResultOk;
    if (ok) printf("%s: %s\n", label, (const char*)data);
    MbHandleRelease(text);
    return ok;
}

/* Reads the Int stored under "arg" / "count" of a loaded message. */
static int ReadCount(MbItem message, int32_t* count) {
    MbItem arg = NULL;
    MbItem value = NULL;
    int ok = MbMapGetNamed(message, "arg", &arg) == MbResultOk && MbMapGetNamed(arg, "count", &value) == MbResultOk &&
             MbAtomGetInt(value, count) == MbResultOk;
    MbHandleRelease(value);
    MbHandleRelease(arg);
    return ok;
}

int main(void) {
    static const char* const names[] = {"alpha", "beta", "gamma"};
    MbItem message;
    MbItem bytes;
    MbItem loaded;
    const void* data = NULL;
    uint16_t length = 0;
    int32_t count = 0;
    int failed = 0;

    if (!MbLibraryInit()) return 1;
    MbTracerSet(PrintTrace);

    message = MbBuild("{s:s, s:c, s:{s:i, s:r, s:[s s s], s:g}}", "proc", "example", "cookie",
                      (uint64_t)0x1122334455667788ull, "arg", "count", 3, "ratio", 0.75, "names", names[0], names[1],
                      names[2], "when", (int64_t)13353683696789ll);
    if (message == NULL || !PrintText("built", message)) failed = 1;

    bytes = MbItemToBytes(message);
    if (bytes == NULL || MbAtomGetBlob(bytes, &data, &length) != MbResultOk)
        failed = 1;
    else
        printf("stored: %u bytes\n", (unsigned)length);

    loaded = MbItemFromBytes(bytes);
    if (loaded == NULL || !PrintText("loaded", loaded)) failed = 1;
    if (!ReadCount(loaded, &count) || count != 3) failed = 1;
    {
        MbItem again = MbItemToBytes(loaded);
        const void* other = NULL;
        uint16_t otherLength = 0;
        if (MbAtomGetBlob(again, &other, &otherLength) != MbResultOk || otherLength != length ||
            memcmp(other, data, length) != 0)
            failed = 1;
        MbHandleRelease(again);
    }

    MbHandleRelease(loaded);
    MbHandleRelease(bytes);
    MbHandleRelease(message);
    MbLibraryTerm();
    puts(failed ? "FAILED" : "the loaded tree equals the built one");
    return failed;
}
