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

bool IsHelp(const std::string& word) {
    return word == "-h" || word == "--help";
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

bool ParseCommandLine(const CCommand& command, const CArgs& args, CCommandLine* line, std::string* error) {
    *line = CCommandLine();
    const auto fail = [&](const std::string& what) {
        *error = what;
        return false;
    };
    // Every word after the first "--" is positional.
    const auto dashes = std::find(args.begin(), args.end(), "--");
    const size_t dashesAt = static_cast<size_t>(dashes - args.begin());
    if (std::any_of(args.begin(), dashes, IsHelp)) {
        line->help = true;
        return true;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (i == dashesAt) continue;
        const bool positional = i > dashesAt || !IsOption(word);
        const bool leading = positional && command.format == CFormatUse::kLeading && !line->format;
        if (leading || (!positional && word == "-f" && command.format == CFormatUse::kOption)) {
            if (line->format) return fail("-f is given twice");
            if (!leading && ++i == args.size()) return fail("-f needs a FORMAT");
            line->format = args[i];
            const std::optional<size_t> count = FormatValueCount(*line->format, error);
            if (!count) return false;
            if (args.size() - i - 1 < *count) {
                return fail("format '" + *line->format + "' takes " + std::to_string(*count) + " values, not " +
                            std::to_string(args.size() - i - 1));
            }
            line->values.assign(args.begin() + static_cast<long>(i) + 1,
                                args.begin() + static_cast<long>(i + 1 + *count));
            i += *count;
            continue;
        }
        if (positional) {
            line->args.push_back(word);
            continue;
        }
        const auto option = std::find_if(command.options.begin(), command.options.end(),
                                         [&](const COption& known) { return word == known.name; });
        if (option == command.options.end()) return fail("unknown option '" + word + "' for " + command.name);
        if (line->Has(option->name)) return fail("option " + word + " is given twice");
        if (option->value != nullptr && ++i == args.size()) return fail("option " + word + " needs " + option->value);
        const std::string value = option->value != nullptr ? args[i] : "";
        unsigned long number = 0;
        if (option->maximum != 0 && !ParseNumber(value, option->minimum, option->maximum, &number)) {
            return fail("option " + word + " takes a number from " + std::to_string(option->minimum) + " to " +
                        std::to_string(option->maximum) + ", not '" + value + "'");
        }
        line->options[option->name] = value;
    }
    if (command.format == CFormatUse::kLeading && !line->format) return fail("missing FORMAT");
    const std::vector<CArgument> arguments = Arguments(command);
    const size_t required = static_cast<size_t>(std::count_if(
        arguments.begin(), arguments.end(), [](const CArgument& argument) { return !argument.optional; }));
    const bool repeats = !arguments.empty() && arguments.back().repeats;
    if (line->args.size() < required) return fail("missing " + arguments[line->args.size()].name);
    if (!repeats && line->args.size() > arguments.size()) {
        return fail("unexpected argument '" + line->args[arguments.size()] + "'");
    }
    for (size_t i = 0; i < line->args.size(); ++i) {
        const std::string& name = arguments[std::min(i, arguments.size() - 1)].name;
        const std::string& value = line->args[i];
        if ((name == "SINK" || name == "NAME") && (value.empty() || value.size() > kMaxSinkName)) {
            return fail("a sink name has 1 to 31 characters; '" + value + "' has " + std::to_string(value.size()));
        }
    }
    return true;
}
