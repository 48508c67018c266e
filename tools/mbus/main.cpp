// `mbus`: looks at and pokes the message bus of this machine from the command line.
#include <cstdio>
#include <cstring>

#include "tool.h"

namespace {

const char kUsage[] =
    "usage: mbus list\n"
    "       mbus send SINK SERVICE TEXT\n"
    "       mbus call SINK SERVICE PROC [ARG]\n"
    "       mbus query SINK SERVICE PROC [ARG] [--timeout MS]\n"
    "       mbus watch NAME [SERVICE...] [--count N] [--seconds S]\n"
    "       mbus test SINK [SERVICE]\n"
    "SERVICE \"\" or _default is the default service. watch prints \"watching NAME\" once its sink\n"
    "is open, then one line per message: SERVICE ReceivedCall|ReceivedQuery|ReceivedReply|State|\n"
    "Send|Request TEXT. Exit status: 0 success, 1 failure, 2 bad usage.\n";

struct CCommand {
    const char* name;
    int (*run)(const CArgs& args);
};

const CCommand kCommands[] = {
    {"list", ListCommand},   {"send", SendCommand},   {"call", CallCommand},
    {"query", QueryCommand}, {"watch", WatchCommand}, {"test", TestCommand},
};

}  // namespace

int main(int argc, char** argv) {
    int result = kExitUsage;
    if (argc >= 2) {
        for (const CCommand& command : kCommands) {
            if (std::strcmp(argv[1], command.name) == 0) result = command.run(CArgs(argv + 2, argv + argc));
        }
    }
    if (result == kExitUsage) std::fputs(kUsage, stderr);
    return result;
}
