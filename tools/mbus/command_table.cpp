// The commands of the tool: their arguments, options and help.
#include <algorithm>

#include "commands.h"

namespace {

const COption kJson{"--json", nullptr, 0, 0};
const COption kTimeout{"--timeout", "MS", 1, 86400000};

const std::string kWaits =
    "It waits until the message went out and fails (exit 1) when the sink is not there;\n"
    "--timeout MS gives up after MS milliseconds.\n";

const char kFormatHelp[] =
    "\nFORMAT is a build format. Each of its value codes takes the next VALUE word:\n"
    "  s String, B Blob (the word's bytes), b Bool (true, false, 1 or 0), i Int, u Unsigned,\n"
    "  r Real, c Cookie (HIGH-LOW in hexadecimal, or one decimal number),\n"
    "  t or T a local time, g or G a UTC time (YYYY-MM-DDTHH:MM:SS[.mmm], with a Z allowed\n"
    "  for UTC, or milliseconds since 1601); N is None and takes no word.\n"
    "[ ] make a list, { } a map whose items alternate key and value; blanks, ',' and ':'\n"
    "separate. Example: -f '{s:r,s:s}' value 21.5 unit C\n";

const char kJsonHelp[] =
    "\nJSON: None is null; Bool, Int, Unsigned and Real are JSON values (a Real that is not\n"
    "finite the string \"NaN\", \"Infinity\" or \"-Infinity\"); a Cookie is \"HIGH-LOW\"; a time\n"
    "is ISO 8601 text, with Z for UTC (outside the years 1601 to 30827: milliseconds since\n"
    "1601); a String is a string, its bytes that are not UTF-8 written as \\udcXX; a Blob is\n"
    "a string of base64; a List is an array, a Map an object whose keys that are no String\n"
    "are written as strings.\n";

const char kGlobalHelp[] =
    "usage: mbus COMMAND [ARGUMENT...] [OPTION...]\n"
    "       mbus --help | --version\n"
    "Looks at and pokes the message bus of this machine.\n\n"
    "commands:\n";

const char kGlobalNotes[] =
    "\n'mbus COMMAND --help' tells more of one command. SINK is a sink's full name as 'mbus\n"
    "list' shows it (1 to 31 characters); SERVICE \"\" or _default is the default service.\n"
    "Exit status: 0 success, 1 failure, 2 bad usage.\n";

}  // namespace

const std::vector<CCommand>& Commands() {
    static const std::vector<CCommand> commands = {
        {"list",
         "",
         {kJson},
         CFormatUse::kNone,
         "lists the sinks of this machine",
         "Prints one line per sink of every session, its fields separated by tabs:\n"
         "FULLNAME NAME SESSION PID USER. FULLNAME is the name to send to; SESSION is the\n"
         "session number, or - for a name without one; USER owns the sink's process (its uid\n"
         "when it has no name, ? when /proc does not tell). --json prints one array of objects\n"
         "with the keys FullName, Name, PID, SessionID, bLocal and User.\n",
         ListCommand},
        {"send",
         "SINK SERVICE TEXT",
         {kTimeout},
         CFormatUse::kNone,
         "sends raw bytes to a service",
         "Sends the bytes of TEXT (at most 65535); the receiving library traces them only.\n" + kWaits,
         SendCommand},
        {"call",
         "SINK SERVICE PROC [ARG]",
         {kTimeout},
         CFormatUse::kOption,
         "calls a procedure of a service",
         "Calls the String procedure PROC with the String ARG, or with the item that -f builds.\n" + kWaits,
         CallCommand},
        {"query",
         "SINK SERVICE PROC [ARG]",
         {kTimeout, kJson},
         CFormatUse::kOption,
         "queries a service and prints the reply",
         "Queries PROC with ARG (or the item that -f builds) from a sink of its own,\n"
         "mbus-query-PID, whose service reply takes the answer. Prints the reply, its text form\n"
         "or JSON; fails (exit 1) when none came within --timeout MS (default 5000).\n",
         QueryCommand},
        {"reply",
         "SINK SERVICE COOKIE [RESULT]",
         {{"--proc", "PROC", 0, 0}, kTimeout},
         CFormatUse::kOption,
         "answers a query by its cookie",
         "Answers a query: SINK and SERVICE are the query's source and service, COOKIE its\n"
         "cookie as shown (HIGH-LOW in hexadecimal). The result is the String RESULT or the item\n"
         "that -f builds; --proc names the procedure. With neither, the reply is the bare cookie.\n" +
             kWaits,
         ReplyCommand},
        {"advise",
         "SINK SERVICE [KEY VALUE...]",
         {kTimeout},
         CFormatUse::kOption,
         "replaces the state map of a service",
         "Replaces the service's state map by a map of String KEY VALUE pairs, or by the map\n"
         "that -f builds.\n" +
             kWaits,
         AdviseCommand},
        {"update",
         "SINK SERVICE [KEY VALUE...]",
         {kTimeout},
         CFormatUse::kOption,
         "merges entries into the state map of a service",
         "Sets each entry of a map of String KEY VALUE pairs, or of the map that -f builds, in\n"
         "the service's state map (an empty state map becomes the map itself).\n" +
             kWaits,
         UpdateCommand},
        {"watch",
         "NAME [SERVICE...]",
         {{"--count", "N", 1, 100000000},
          {"--seconds", "S", 1, 100000000},
          kTimeout,
          kJson,
          {"--reply", "COMMAND", 0, 0}},
         CFormatUse::kNone,
         "opens a sink and prints what arrives; answers queries",
         "Opens the sink NAME with its default service and each SERVICE, prints \"watching NAME\",\n"
         "then one line per message: SERVICE KIND TEXT, where KIND is ReceivedCall,\n"
         "ReceivedQuery, ReceivedReply, State (an advise or update changed the state map), or\n"
         "Send or Request (raw bytes, shown as the library traces them). It ends after N lines,\n"
         "S seconds or MS milliseconds, on SIGINT or SIGTERM. --json prints {\"watching\":NAME},\n"
         "then {\"service\":..., \"kind\":..., \"message\":...} per message.\n"
         "--reply COMMAND answers each query: /bin/sh runs COMMAND with the procedure as $1 and\n"
         "the argument, when there is one, as $2 (a String as its text, any other item as JSON),\n"
         "and the whole query as JSON in MBUS_QUERY. What COMMAND writes is the result: stored\n"
         "bytes (as 'mbus encode' writes them) give their item, other output a String without\n"
         "its last newline. When COMMAND fails (exit status not 0) no reply is sent.\n",
         WatchCommand},
        {"test",
         "SINK [SERVICE]",
         {kTimeout},
         CFormatUse::kNone,
         "tests whether a sink takes messages",
         "Sends a test message to the sink, or to its SERVICE, and prints whether it was taken.\n" + kWaits,
         TestCommand},
        {"encode",
         "",
         {},
         CFormatUse::kLeading,
         "writes the stored bytes of an item",
         "Writes the stored bytes of the item that FORMAT and the VALUEs build to stdout.\n",
         EncodeCommand},
        {"decode",
         "[FILE]",
         {kJson},
         CFormatUse::kNone,
         "prints stored bytes as text or JSON",
         "Reads stored bytes from FILE (stdin when FILE is - or missing) and prints the item's\n"
         "text form, or JSON. Bytes that are not one whole stored item fail (exit 1).\n",
         DecodeCommand},
    };
    return commands;
}

std::string CommandHelp(const CCommand& command) {
    const bool json = std::any_of(command.options.begin(), command.options.end(),
                                  [](const COption& option) { return option.name == kJson.name; });
    return "usage: " + UsageLine(command) + "\n" + command.details +
           (command.format != CFormatUse::kNone ? kFormatHelp : "") + (json ? kJsonHelp : "");
}

std::string GlobalHelp() {
    std::string help = kGlobalHelp;
    for (const CCommand& command : Commands()) {
        help += "  " + std::string(command.name) + std::string(8 - std::string(command.name).size(), ' ') +
                command.summary + "\n";
    }
    return help + kGlobalNotes;
}
