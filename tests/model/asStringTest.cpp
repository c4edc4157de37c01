// asString: printf-style formatting into a call-local 4096-byte buffer; a
// longer text is cut at 4095 characters.
#include <gtest/gtest.h>

#include <string>

#include "tavex/model/asString.h"

using Tavex::asString;

TEST(asString, FormatsLikePrintf) {
    const struct {
        std::string got;
        const char* expected;
    } cases[] = {
        {asString("FirmwareFileBuffer: Can not open the file %s.", "a.bin"),
         "FirmwareFileBuffer: Can not open the file a.bin."},
        {asString("FirmwareFileBuffer: error occured while reading file %s.", "C:\\fw\\x 1.bin"),
         "FirmwareFileBuffer: error occured while reading file C:\\fw\\x 1.bin."},
        {asString("no placeholders at all."), "no placeholders at all."},
        {asString("100%% sure"), "100% sure"},
        {asString("%X/%x/%04X", 0xBEEFu, 0xABCu, 0x1Fu), "BEEF/abc/001F"},
        {asString("%d %u %ld", -12, 4000000000u, -70000L), "-12 4000000000 -70000"},
        {asString("%c%c%s", 'o', 'k', ""), "ok"},
        {asString("%s", ""), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, c.got);
}

TEST(asString, LongTextIsCutAt4095Characters) {
    const std::string a4095(4095, 'a');
    const std::string b5000(5000, 'b');
    const struct {
        std::string got;
        std::string expected;
    } cases[] = {
        {asString("%s", std::string(4094, 'x').c_str()), std::string(4094, 'x')},
        {asString("%s", a4095.c_str()), a4095},                               // fits exactly
        {asString("%s", std::string(4096, 'c').c_str()), std::string(4095, 'c')},
        {asString("head %s", b5000.c_str()), ("head " + b5000).substr(0, 4095)},
        {asString("%s%s", a4095.c_str(), "tail"), a4095},
        {asString("%6000d|", 7), std::string(4095, ' ')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected.size(), c.got.size());
        EXPECT_EQ(c.expected, c.got);
    }
}
