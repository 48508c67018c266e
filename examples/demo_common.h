/* Small helpers shared by the two demo programs. */
#ifndef MBUS_DEMO_COMMON_H
#define MBUS_DEMO_COMMON_H

#include <mbus/mbus.h>
#include <stdio.h>
#include <string.h>

/* Prints the library's own trace lines, indented, under the program's name. */
static const char* demoProgram = "demo";

static void DemoTrace(const char* text, uint32_t category) {
    printf("%s:   [trace %u] %s", demoProgram, category, text);
    if (text[0] != '\0' && text[strlen(text) - 1] != '\n') printf("\n");
    fflush(stdout);
}

/* Prints "label: <text form of item>". */
static void DemoPrintItem(const char* label, MbItem item) {
    MbItem text = MbItemToText(item, 0);
    const void* bytes = NULL;
    uint16_t length = 0;
    if (text != NULL && MbAtomGetBlob(text, &bytes, &length) == MbResultOk) {
        printf("%s: %s %s\n", demoProgram, label, (const char*)bytes);
    } else {
        printf("%s: %s (none)\n", demoProgram, label);
    }
    fflush(stdout);
    if (text != NULL) MbHandleRelease(text);
}

#endif
