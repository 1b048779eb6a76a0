// The one printing rule of names from disks and firmware, over every class of
// character it shows as '.', in UTF-16 and in 8-bit text, as text and as a file name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/printable.h"
#include "output/utf8.h"

namespace {

std::vector<uint8_t> Units(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return bytes;
}

std::string Utf16(const std::u16string& text, PrintAs as) {
    const std::vector<uint8_t> bytes = Units(text);
    return PrintableUtf16(bytes.data(), text.size(), as);
}

struct RuleCase {
    const char* name;
    std::u16string units;
    const char* text;     // as PrintAs::Text shows it
    const char* fileName; // as PrintAs::FileName shows it
};

const RuleCase RuleCases[] = {
    {"C0 controls", u"a\u0001\u0009\u000A\u000D\u001B\u001Fb", "a......b", "a......b"},
    {"DEL and C1 controls", u"a\u007F\u0080\u0085\u009Fb", "a....b", "a....b"},
    {"line and paragraph separators", u"a\u2028\u2029b", "a..b", "a..b"},
    {"embeddings and overrides", u"rlo\u202A\u202B\u202C\u202D\u202Eexe.efi", "rlo.....exe.efi",
     "rlo.....exe.efi"},
    {"isolates", u"a\u2066\u2067\u2068\u2069b", "a....b", "a....b"},
    {"byte order mark", u"\uFEFFa", ".a", ".a"},
    {"their neighbours pass", u"\u0020\u007E\u00A0\u00E9\u2027\u202F\u2065\u206A\uFEFE\uFFFD",
     " ~\xC2\xA0\xC3\xA9\xE2\x80\xA7\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA\xEF\xBB\xBE\xEF\xBF\xBD",
     " ~\xC2\xA0\xC3\xA9\xE2\x80\xA7\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA\xEF\xBB\xBE\xEF\xBF\xBD"},
    {"a surrogate pair is one character", u"a\U0001F600b",
     "a\xF0\x9F\x98\x80"
     "b",
     "a\xF0\x9F\x98\x80"
     "b"},
    {"unpaired surrogates",
     std::u16string(u"a") + char16_t(0xD800) + u"b" + char16_t(0xDC00) + char16_t(0xDBFF), "a.b..",
     "a.b.."},
    {"a low surrogate before a high one pairs nothing",
     std::u16string(u"a") + char16_t(0xDC00) + char16_t(0xD800) + u"b", "a..b", "a..b"},
    {"separators in a name", u"EFI\\x/y.efi", "EFI\\x/y.efi", "EFI.x.y.efi"},
    {"NUL ends text, not a name", std::u16string(u"ab\0cd", 5), "ab", "ab.cd"},
};

TEST(Printable, Utf16ShowsEachClassAsDots) {
    for (const RuleCase& c : RuleCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Utf16(c.units, PrintAs::Text), c.text);
        EXPECT_EQ(Utf16(c.units, PrintAs::FileName), c.fileName);
    }
}

// The same classes in UTF-8, as the 8-bit strings of other records hold them.
TEST(Printable, BytesShowTheSameClassesAsUtf16) {
    for (const RuleCase& c : RuleCases) {
        if (std::string(c.name).find("surrogate") != std::string::npos)
            continue; // no valid UTF-8 holds one: see the encoded surrogate below
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> units = Units(c.units);
        std::string utf8;
        size_t used = 1;
        for (size_t i = 0; i < c.units.size(); i += used)
            AppendUtf8(utf8, Utf16CodeAt(units.data(), c.units.size(), i, &used));
        EXPECT_EQ(PrintableBytes(utf8, PrintAs::Text), c.text);
        EXPECT_EQ(PrintableBytes(utf8, PrintAs::FileName), c.fileName);
    }
}

struct BytesCase {
    const char* name;
    std::string bytes;
    const char* text;
    const char* fileName;
};

const BytesCase BytesCases[] = {
    {"ASCII with separators", "\\boot/grub.cfg", "\\boot/grub.cfg", ".boot.grub.cfg"},
    {"controls",
     "a\x01\x1B\x7F"
     "b",
     "a...b", "a...b"},
    {"C1 control",
     "a\xC2\x85"
     "b",
     "a.b", "a.b"},
    {"line separator, override, isolate, byte order mark",
     "a\xE2\x80\xA8\xE2\x80\xAE\xE2\x81\xA6\xEF\xBB\xBF"
     "b",
     "a....b", "a....b"},
    {"valid sequences pass", "\xC3\xA9\xE2\x80\xAF\xF0\x9F\x98\x80",
     "\xC3\xA9\xE2\x80\xAF\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x80\xAF\xF0\x9F\x98\x80"},
    {"lone continuation and code page bytes",
     "a\x80\x85\xE9"
     "b",
     "a...b", "a...b"},
    {"sequence cut short", "a\xE2\x80", "a..", "a.."},
    {"overlong", "\xC0\xAF\xE0\x80\xAF", ".....", "....."},
    {"encoded surrogate", "\xED\xA0\x80", "...", "..."},
    {"past U+10FFFF, and leads that no sequence has", "\xF4\x90\x80\x80\xF8\x88\x80\x80\x80\xFF",
     "..........", ".........."},
    {"NUL ends text, not a name", std::string("ab\0cd", 5), "ab", "ab.cd"},
};

TEST(Printable, BytesAreReadAsUtf8AndEachInvalidByteIsADot) {
    for (const BytesCase& c : BytesCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PrintableBytes(c.bytes, PrintAs::Text), c.text);
        EXPECT_EQ(PrintableBytes(c.bytes, PrintAs::FileName), c.fileName);
    }
}

} // namespace
