// Items as JSON. Atoms: None null; Bool true or false; Int, Unsigned and Real numbers (a Real
// that is not finite as the string "NaN", "Infinity" or "-Infinity"); Cookie the string
// "HIGH-LOW" as its text form shows it; LocalTime the string "YYYY-MM-DDTHH:MM:SS.mmm" and
// UtcTime the same with "Z" (a time outside the years 1601 to 30827 as the number of milliseconds
// since 1601); String a string; Blob a string holding its bytes in base64. Lists are arrays and
// maps objects; a map key that is no String is written as the string of its JSON ("5", "true").
// Strings are UTF-8: a byte that is not part of a valid UTF-8 sequence is written as the escape
// \udcXX of the lone surrogate U+DC00 plus the byte, so that no byte is lost or mistaken.
#pragma once

#include <mbus/mbus.h>

#include <string>

// One line of JSON for the whole item; nested to any depth without recursion.
std::string ItemJson(MbItem item);

// `bytes` as a JSON string, quotes included.
std::string JsonString(const std::string& bytes);
