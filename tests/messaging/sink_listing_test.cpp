#include "messaging/sink_listing.h"

#include <mbus/mbus.h>

#include <gtest/gtest.h>

namespace {

// "fullName|name|session|pid|U": session is marked L when a suffix counts, pid P when it counts,
// and U marks an unnamed sink's annotation.
std::string Fields(const CSinkAnnotation& a) {
    return std::string(a.fullName) + "|" + std::string(a.name) + "|" + (a.local ? "L" : "") +
           std::to_string(a.session) + "|" + (a.pidCounts ? "P" : "") + std::to_string(a.pid) + "|" +
           (a.unnamed ? "U" : "");
}

}  // namespace

TEST(SinkAnnotation, ParsesTheGrammar) {
    const std::pair<const char*, const char*> cases[] = {
        {"abc(1) #1234", "abc(1)|abc|L1|P1234|"},
        {"abc #1234", "abc|abc|0|P1234|"},
        {"#1234 #1234", "#1234|#1234|0|P1234|U"},
        {"#0 #0", "#0|#0|0|P0|U"},
        {"#12x", "#12|#12|0|P12|U"},
        // A suffix has 1 to 9 digits; a pid too, and it needs a blank before its '#'.
        {"abc(123456789) #5", "abc(123456789)|abc|L123456789|P5|"},
        {"abc(1234567890) #5", "abc(1234567890)|abc(1234567890)|0|P5|"},
        {"abc #123456789x", "abc|abc|0|P123456789|"},
        {"abc #1234567890", "abc #1234567890|abc #1234567890|0|0|"},
        {"abc(1x) #5", "abc(1x)|abc(1x)|0|P5|"},
        {"abc() #5", "abc()|abc()|0|P5|"},
        {"abc#12", "abc#12|abc#12|0|0|"},
        {"abc #", "abc #|abc #|0|0|"},
        {"plain", "plain|plain|0|0|"},
        {"", "||0|0|"},
        // A '(' without ')' leaves no process id; one at position 0 is no suffix.
        {"abc(1 #77", "abc(1 #77|abc(1 #77|0|0|"},
        {"(1) #77", "(1)|(1)|0|P77|"},
        // The '#' is searched from the ')' on; one before it does not count.
        {"a #1(2) x", "a #1(2)|a #1|L2|0|"},
        {"a(2)#9 #8", "a(2)|a|L2|0|"},
        // Only 7-bit digits are digits.
        {"abc(\xd9\xa1) #5", "abc(\xd9\xa1)|abc(\xd9\xa1)|0|P5|"},
    };
    for (const auto& [text, fields] : cases) EXPECT_EQ(Fields(SinkAnnotationParse(text)), fields) << text;
}

TEST(SinkAnnotation, SelectionBySessionAndProcess) {
    struct Case {
        const char* text;
        uint32_t mask;
        uint32_t session;
        bool included;
    };
    const Case cases[] = {
        {"abc(1) #1234", 0, 1, true},       {"abc(1) #1234", 0, 2, false},    {"abc(1) #1234", 0x400, 2, true},
        {"abc(1) #1234", 0x400, 1, false},  {"abc #1234", 0, 1, true},        {"abc #1234", 0x200, 1, false},
        {"abc #1000", 0, 1, false},         {"abc #1000", 0x900, 1, true},    {"abc(1) #1000", 0xA00, 1, true},
        {"odd text", 0, 1, true},           {"odd text", 0x600, 1, false},    {"abc #5", 0xFFFFFAE5, 1, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SinkListIncludes(SinkAnnotationParse(c.text), SinkListMaskNormalise(c.mask), 1000, c.session),
                  c.included)
            << c.text << " mask " << c.mask << " session " << c.session;
    }
}
