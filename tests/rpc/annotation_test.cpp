#include "platform/rpc/annotation.h"

#include <mbus/mbus.h>

#include <gtest/gtest.h>

TEST(SinkAnnotation, ParsesTheGrammar) {
    struct Case {
        const char* text;
        const char* fullName;
        const char* name;
        bool local;
        uint32_t session;
        bool pidCounts;
        uint32_t pid;
        bool unnamed;
    };
    const Case cases[] = {
        {"abc(1) #1234", "abc(1)", "abc", true, 1, true, 1234, false},
        {"abc #1234", "abc", "abc", false, 0, true, 1234, false},
        {"#1234 #1234", "#1234", "#1234", false, 0, true, 1234, true},
        {"abc(1234567890) #5", "abc(1234567890)", "abc(1234567890)", false, 0, true, 5, false},
        {"abc(123456789) #5", "abc(123456789)", "abc", true, 123456789, true, 5, false},
        {"abc(1x) #5", "abc(1x)", "abc(1x)", false, 0, true, 5, false},
        {"abc() #5", "abc()", "abc()", false, 0, true, 5, false},
        {"abc #1234567890", "abc #1234567890", "abc #1234567890", false, 0, false, 0, false},
        {"abc #123456789x", "abc", "abc", false, 0, true, 123456789, false},
        {"abc#12", "abc#12", "abc#12", false, 0, false, 0, false},
        {"abc #", "abc #", "abc #", false, 0, false, 0, false},
        {"plain", "plain", "plain", false, 0, false, 0, false},
        {"", "", "", false, 0, false, 0, false},
        // A '(' without ')' leaves no process id; one at position 0 is no suffix.
        {"abc(1 #77", "abc(1 #77", "abc(1 #77", false, 0, false, 0, false},
        {"(1) #77", "(1)", "(1)", false, 0, true, 77, false},
        // The '#' is searched from the ')' on; one before it does not count.
        {"a #1(2) x", "a #1(2)", "a #1", true, 2, false, 0, false},
        {"a(2)#9 #8", "a(2)", "a", true, 2, false, 0, false},
        // Only 7-bit digits are digits.
        {"abc(\xd9\xa1) #5", "abc(\xd9\xa1)", "abc(\xd9\xa1)", false, 0, true, 5, false},
        {"#0 #0", "#0", "#0", false, 0, true, 0, true},
        {"#12x", "#12", "#12", false, 0, true, 12, true},
    };
    for (const Case& c : cases) {
        const CSinkAnnotation a = SinkAnnotationParse(c.text);
        EXPECT_EQ(a.fullName, c.fullName) << c.text;
        EXPECT_EQ(a.name, c.name) << c.text;
        EXPECT_EQ(a.local, c.local) << c.text;
        EXPECT_EQ(a.session, c.session) << c.text;
        EXPECT_EQ(a.pidCounts, c.pidCounts) << c.text;
        EXPECT_EQ(a.pid, c.pid) << c.text;
        EXPECT_EQ(a.unnamed, c.unnamed) << c.text;
    }
}

TEST(SinkAnnotation, MaskDefaultsApplyPerGroup) {
    EXPECT_EQ(SinkListMaskNormalise(0), 0x31Fu);
    EXPECT_EQ(SinkListMaskNormalise(0x01), 0x301u);
    EXPECT_EQ(SinkListMaskNormalise(0x400), 0x41Fu);
    EXPECT_EQ(SinkListMaskNormalise(0xFFFFFAE5), 0xA05u);
}

TEST(SinkAnnotation, SelectionBySessionAndProcess) {
    const uint32_t own = 1000;
    struct Case {
        const char* text;
        uint32_t mask;
        uint32_t session;
        bool included;
    };
    const Case cases[] = {
        {"abc(1) #1234", 0, 1, true},
        {"abc(1) #1234", 0, 2, false},
        {"abc(1) #1234", 0x400, 2, true},
        {"abc(1) #1234", 0x400, 1, false},
        {"abc #1234", 0, 1, true},
        {"abc #1234", 0x200, 1, false},
        {"abc #1000", 0, 1, false},
        {"abc #1000", 0x900, 1, true},
        {"abc(1) #1000", 0xA00, 1, true},
        {"odd text", 0, 1, true},
        {"odd text", 0x600, 1, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SinkListIncludes(SinkAnnotationParse(c.text), SinkListMaskNormalise(c.mask), own, c.session),
                  c.included)
            << c.text << " mask " << c.mask << " session " << c.session;
    }
}

TEST(SinkAnnotation, EntryFormIsTextOnlyForOneNameField) {
    EXPECT_EQ(SinkListEntryForm(SinkListMaskNormalise(0x01)), ESinkEntryForm::FullNameText);
    EXPECT_EQ(SinkListEntryForm(SinkListMaskNormalise(0x04)), ESinkEntryForm::NameText);
    EXPECT_EQ(SinkListEntryForm(SinkListMaskNormalise(0x05)), ESinkEntryForm::Map);
    EXPECT_EQ(SinkListEntryForm(SinkListMaskNormalise(0x09)), ESinkEntryForm::Map);
    EXPECT_EQ(SinkListEntryForm(SinkListMaskNormalise(0)), ESinkEntryForm::Map);
}
