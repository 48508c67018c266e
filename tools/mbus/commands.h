// The commands of the `mbus` tool, and the command line each one is given.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

using CArgs = std::vector<std::string>;

// An option of a command: a flag (no value), or one that takes a text or, when maximum is not 0,
// a number in [minimum, maximum].
struct COption {
    const char* name;
    const char* value;
    unsigned long minimum;
    unsigned long maximum;
};

// What a command was given; built by ParseCommandLine, which has checked every part of it.
struct CCommandLine {
    CArgs args;
    std::map<std::string, std::string> options;
    std::optional<std::string> format;
    CArgs values;
    bool help = false;

    bool Has(const char* option) const { return options.count(option) != 0; }
    std::string Text(const char* option) const;
    unsigned long Number(const char* option, unsigned long fallback) const;
};

// Where a command takes a build format: nowhere, after -f, or as its first argument.
enum class CFormatUse { kNone, kOption, kLeading };

struct CCommand {
    const char* name;
    // The positional arguments, e.g. "SINK SERVICE PROC [ARG]": a bracketed name is optional and
    // one with "..." may repeat. SINK and NAME must be sink names.
    const char* arguments;
    std::vector<COption> options;
    CFormatUse format;
    const char* summary;
    std::string details;
    int (*run)(const CCommandLine& line);
};

// Every command, in the order the help lists them.
const std::vector<CCommand>& Commands();

// Reads `args` (the words after the command's name) into `line`: false, with the first thing
// that was wrong in `error`, for an unknown option, a bad number, a format value missing or the
// wrong count of arguments. -h or --help among the options sets `help` and skips the checks.
// Words that begin with '-' are options (but negative numbers), up to a "--"; a format takes
// the words after it as its values, whatever they are.
bool ParseCommandLine(const CCommand& command, const CArgs& args, CCommandLine* line, std::string* error);

// "mbus NAME ARGUMENTS [OPTIONS]", as the help and usage errors print it.
std::string UsageLine(const CCommand& command);

// The help of one command, and of the tool with its list of commands.
std::string CommandHelp(const CCommand& command);
std::string GlobalHelp();

int ListCommand(const CCommandLine& line);
int SendCommand(const CCommandLine& line);
int CallCommand(const CCommandLine& line);
int QueryCommand(const CCommandLine& line);
int ReplyCommand(const CCommandLine& line);
int AdviseCommand(const CCommandLine& line);
int UpdateCommand(const CCommandLine& line);
int WatchCommand(const CCommandLine& line);
int TestCommand(const CCommandLine& line);
int EncodeCommand(const CCommandLine& line);
int DecodeCommand(const CCommandLine& line);
