// Values given on the command line: whole numbers, and items built from a build format whose
// codes take their values from words instead of C arguments.
#pragma once

#include <mbus/mbus.h>

#include <cstdint>
#include <optional>
#include <string>

#include "commands.h"
#include "tool.h"

// Reads `text` into `value`: false unless it is decimal digits only (no sign) and in
// [minimum, maximum].
bool ParseNumber(const std::string& text, unsigned long minimum, unsigned long maximum, unsigned long* value);

// The atom that the value code `code` (one of B b c i u r s t g T G) makes of `word`: null, with
// what is wrong with the word in `error`, when it is no value of that type.
MbItem WordItem(char code, const std::string& word, std::string* error);

// How many value words `format` takes: one for each of B b c i u r s t g T G, none for N, the
// brackets, separators and blanks. Nothing, with the reason in `error`, for any other character.
std::optional<size_t> FormatValueCount(const std::string& format, std::string* error);

// The item that `format` describes, as MbBuild would make it, each code taking the next word of
// `values` in the type it names. Null, with the reason in `error` (the character of the format
// and, for a value, the word and the type), when the format or a value is bad or the two do not
// match in number.
MbItem BuildItem(const std::string& format, const CArgs& values, std::string* error);

// WordItem into `item`: false after a usage error, which it prints.
bool GivenWord(char code, const std::string& word, CItemRef* item);

// The item a command was given as a value: the one -f builds, else the String args[position]
// when there is one, else none. False after a usage error, which it prints.
bool GivenItem(const CCommandLine& line, size_t position, CItemRef* item);
