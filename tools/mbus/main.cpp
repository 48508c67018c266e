// `mbus`: looks at and pokes the message bus of this machine from the command line.
#include <cstdio>

#include "commands.h"
#include "tool.h"

namespace {

const CCommand* FindCommand(const std::string& name) {
    for (const CCommand& command : Commands()) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

int RunCommand(const CCommand& command, const CArgs& args) {
    CCommandLine line;
    std::string error;
    int result = kExitUsage;
    if (!ParseCommandLine(command, args, &line, &error)) {
        UsageError(error);
    } else if (line.help) {
        std::fputs(CommandHelp(command).c_str(), stdout);
        return kExitOk;
    } else {
        result = command.run(line);
    }
    if (result == kExitUsage) {
        std::fprintf(stderr, "usage: %s\nRun 'mbus %s --help' for more.\n", UsageLine(command).c_str(), command.name);
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const CArgs words(argv + 1, argv + argc);
    if (!words.empty() && (words[0] == "--help" || words[0] == "-h")) {
        std::fputs(GlobalHelp().c_str(), stdout);
        return kExitOk;
    }
    if (!words.empty() && words[0] == "--version") {
        std::printf("mbus %s (library version %u)\n", MBUS_VERSION, MbVersionGet());
        return kExitOk;
    }
    const CCommand* command = words.empty() ? nullptr : FindCommand(words[0]);
    if (command != nullptr) return RunCommand(*command, CArgs(words.begin() + 1, words.end()));
    UsageError(words.empty() ? "no command given" : "unknown command '" + words[0] + "'");
    std::fputs("Run 'mbus --help' for the commands.\n", stderr);
    return kExitUsage;
}
