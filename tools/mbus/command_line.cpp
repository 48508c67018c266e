// Reading a command's words into positional arguments, options and a format with its values.
#include <algorithm>
#include <cctype>

#include "commands.h"
#include "values.h"

namespace {

// One positional argument of a command's synopsis.
struct CArgument {
    std::string name;
    bool optional;
    bool repeats;
};

std::vector<CArgument> Arguments(const CCommand& command) {
    std::vector<CArgument> arguments;
    const std::string text = command.arguments;
    int brackets = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        std::string name = text.substr(start, end - start);
        const bool optional = brackets > 0 || name[0] == '[';
        brackets +=
            static_cast<int>(std::count(name.begin(), name.end(), '[') - std::count(name.begin(), name.end(), ']'));
        const bool repeats = name.find("...") != std::string::npos;
        name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == '[' || c == ']' || c == '.'; }),
                   name.end());
        arguments.push_back({name, optional, repeats});
        start = end + 1;
    }
    return arguments;
}

// Words that begin with '-' are options, except "-" alone and negative numbers.
bool IsOption(const std::string& word) {
    return word.size() > 1 && word[0] == '-' && std::isdigit(static_cast<unsigned char>(word[1])) == 0;
}

// Reads the option args[*at] and the value it takes (moving *at past it) into `line`, or tells
// `fail` what is wrong with it.
template <class Fail>
void ReadOption(const CCommand& command, const CArgs& args, size_t* at, CCommandLine* line, const Fail& fail) {
    const std::string& word = args[*at];
    const auto option = std::find_if(command.options.begin(), command.options.end(),
                                     [&](const COption& known) { return word == known.name; });
    if (option == command.options.end()) return fail("unknown option '" + word + "' for " + command.name);
    if (line->Has(option->name)) fail("option " + word + " is given twice");
    if (option->value != nullptr && ++*at == args.size()) return fail("option " + word + " needs " + option->value);
    const std::string value = option->value != nullptr ? args[*at] : "";
    unsigned long number = 0;
    if (option->maximum != 0 && !ParseNumber(value, option->minimum, option->maximum, &number)) {
        fail("option " + word + " takes a number from " + std::to_string(option->minimum) + " to " +
             std::to_string(option->maximum) + ", not '" + value + "'");
    }
    line->options[option->name] = value;
}

// The registry's endpoint names hold 1 to 31 characters, session suffix included.
constexpr size_t kMaxSinkName = 31;

}  // namespace

std::string CCommandLine::Text(const char* option) const {
    const auto found = options.find(option);
    return found != options.end() ? found->second : "";
}

unsigned long CCommandLine::Number(const char* option, unsigned long fallback) const {
    unsigned long value = fallback;
    return Has(option) && ParseNumber(Text(option), 0, ~0ul, &value) ? value : fallback;
}

std::string UsageLine(const CCommand& command) {
    std::string line = std::string("mbus ") + command.name;
    if (*command.arguments != '\0') line += std::string(" ") + command.arguments;
    if (command.format == CFormatUse::kLeading) line += " FORMAT [VALUE...]";
    if (command.format == CFormatUse::kOption) line += " [-f FORMAT VALUE...]";
    for (const COption& option : command.options) {
        line +=
            std::string(" [") + option.name + (option.value != nullptr ? std::string(" ") + option.value : "") + "]";
    }
    return line;
}

// The words a format takes are its values whatever they look like, so the help is seen only
// among the options, and a usage error does not hide a help asked for later on the line.
bool ParseCommandLine(const CCommand& command, const CArgs& args, CCommandLine* line, std::string* error) {
    *line = CCommandLine();
    std::string problem;
    const auto fail = [&](const std::string& what) {
        if (problem.empty()) problem = what;
    };
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        const bool positional = optionsEnded || !IsOption(word);
        if (!positional && (word == "-h" || word == "--help")) {
            line->help = true;
            continue;
        }
        const bool leading = positional && command.format == CFormatUse::kLeading && !line->format;
        if (leading || (!positional && word == "-f" && command.format == CFormatUse::kOption)) {
            if (line->format) fail("-f is given twice");
            if (!leading && ++i == args.size()) {
                fail("-f needs a FORMAT");
                break;
            }
            line->format = args[i];
            std::string formatError;
            const size_t count = FormatValueCount(*line->format, &formatError).value_or(0);
            const size_t given = std::min(count, args.size() - i - 1);
            if (!formatError.empty()) fail(formatError);
            if (given < count) {
                fail("format '" + *line->format + "' takes " + std::to_string(count) + " values, not " +
                     std::to_string(given));
            }
            line->values.assign(args.begin() + static_cast<long>(i + 1),
                                args.begin() + static_cast<long>(i + 1 + given));
            i += given;
        } else if (positional) {
            line->args.push_back(word);
        } else if (word == "--") {
            optionsEnded = true;
        } else {
            ReadOption(command, args, &i, line, fail);
        }
    }
    if (line->help) return true;
    const auto failNow = [&](const std::string& what) {
        *error = what;
        return false;
    };
    if (!problem.empty()) return failNow(problem);
    if (command.format == CFormatUse::kLeading && !line->format) return failNow("missing FORMAT");
    const std::vector<CArgument> arguments = Arguments(command);
    const size_t required = static_cast<size_t>(std::count_if(
        arguments.begin(), arguments.end(), [](const CArgument& argument) { return !argument.optional; }));
    const bool repeats = !arguments.empty() && arguments.back().repeats;
    if (line->args.size() < required) return failNow("missing " + arguments[line->args.size()].name);
    if (!repeats && line->args.size() > arguments.size()) {
        return failNow("unexpected argument '" + line->args[arguments.size()] + "'");
    }
    for (size_t i = 0; i < line->args.size(); ++i) {
        const std::string& name = arguments[std::min(i, arguments.size() - 1)].name;
        const std::string& value = line->args[i];
        if ((name == "SINK" || name == "NAME") && (value.empty() || value.size() > kMaxSinkName)) {
            return failNow("a sink name has 1 to 31 characters; '" + value + "' has " + std::to_string(value.size()));
        }
    }
    return true;
}
