// Reading the command line: numbers and "--name VALUE" options.
#include <cstdlib>

#include "tool.h"

bool ParseNumber(const std::string& text, unsigned long minimum, unsigned long maximum, unsigned long* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9) return false;
    *value = std::strtoul(text.c_str(), nullptr, 10);
    return *value >= minimum && *value <= maximum;
}

bool ParseOptions(CArgs* args, const std::vector<std::string>& names, std::vector<std::string>* values) {
    CArgs positional;
    values->assign(names.size(), "");
    for (size_t i = 0; i < args->size(); ++i) {
        const std::string& arg = (*args)[i];
        if (arg.rfind("--", 0) != 0) {
            positional.push_back(arg);
            continue;
        }
        size_t which = 0;
        while (which < names.size() && names[which] != arg) ++which;
        if (which == names.size() || i + 1 == args->size()) return false;
        (*values)[which] = (*args)[++i];
    }
    *args = positional;
    return true;
}
