#include "format/code_page.h"

#include <gtest/gtest.h>

#include "format/utf8.h"
#include "platform/code_pages.h"

namespace kestra::format {
namespace {

CodePage Load(int number) {
    std::string why;
    const std::optional<CodePage> page = platform::LoadCodePage(number, why);
    EXPECT_TRUE(page.has_value()) << why;
    return page.value_or(CodePage());
}

std::string Name(const char* raw, const CodePage& page) {
    return ShortNameText(reinterpret_cast<const uint8_t*>(raw), page);
}

TEST(CodePageTest, ShortNamesReadInTheirPage) {
    const CodePage cp850 = Load(850);
    const CodePage cp437 = Load(437);
    EXPECT_EQ(cp850.Number(), 850);
    EXPECT_EQ(Name("README  TXT", cp850), "README.TXT");
    EXPECT_EQ(Name("A       C  ", cp850), "A.C");
    EXPECT_EQ(Name("\x90T\x90     BIN", cp850), "ÉTÉ.BIN");
    EXPECT_EQ(Name("\x9DRE     TXT", cp850), "ØRE.TXT");
    EXPECT_EQ(Name("\x9DRE     TXT", cp437), "¥RE.TXT");
    // 05h stands for a first byte E5h, which would mark the entry erased.
    EXPECT_EQ(Name("\x05LE     TXT", cp850), "ÕLE.TXT");
    EXPECT_EQ(Name("\x05LE     TXT", cp437), "σLE.TXT");
    EXPECT_EQ(Name("A\x05      TXT", cp850), "A\uFFFD.TXT");  // only the first byte
    EXPECT_EQ(Name("\xFF       \xFF  ", cp850), "\u00A0.\u00A0");
    // Control bytes never reach a terminal or a log.
    EXPECT_EQ(Name("A\x1B[2J   \x7F  ", cp850), "A\uFFFD[2J.\uFFFD");
    // Without a page, only ASCII shows.
    EXPECT_EQ(Name("\x90T\x90     BIN", CodePage()), "\uFFFDT\uFFFD.BIN");
}

TEST(CodePageTest, LabelsDropTrailingBlanksAndNuls) {
    const CodePage cp850 = Load(850);
    const auto label = [&](const char* raw) {
        return LabelText(reinterpret_cast<const uint8_t*>(raw), cp850);
    };
    EXPECT_EQ(label("CAF\x90 OK    "), "CAFÉ OK");
    EXPECT_EQ(label("DATA\0\0\0\0\0\0\0"), "DATA");
    EXPECT_EQ(label("           "), "");
}

TEST(CodePageTest, OnlySingleBytePagesTheSystemKnowsAreLoaded) {
    std::string why;
    EXPECT_TRUE(platform::LoadCodePage(1252, why).has_value()) << why;
    EXPECT_TRUE(platform::LoadCodePage(866, why).has_value()) << why;
    EXPECT_FALSE(platform::LoadCodePage(932, why).has_value());
    EXPECT_NE(why.find("several bytes per character"), std::string::npos) << why;
    EXPECT_FALSE(platform::LoadCodePage(12345, why).has_value());
    EXPECT_NE(why.find("not known"), std::string::npos) << why;
    for (const char* text : {"", "85O", "-850", "850 ", "1234567"}) {
        EXPECT_FALSE(platform::ParseCodePage(text, why).has_value()) << text;
    }
    EXPECT_EQ(platform::ParseCodePage("437", why)->Number(), 437);
    EXPECT_EQ(platform::DefaultCodePage().Number(), 850);
    // A byte 1252 leaves undefined shows as U+FFFD.
    EXPECT_EQ(Load(1252).Char(0x81), kReplacement);
}

TEST(Utf8Test, LongNameUnitsBecomeValidUtf8) {
    const char16_t pair[] = {u'a', 0xD83D, 0xDE00, u'b'};
    EXPECT_EQ(Utf16ToUtf8(pair, 4), "a\U0001F600b");
    const char16_t lone[] = {0xD83D, u'x', 0xDE00};
    EXPECT_EQ(Utf16ToUtf8(lone, 3), "\uFFFDx\uFFFD");
    const char16_t latin[] = {0xE9, 0x20AC};
    EXPECT_EQ(Utf16ToUtf8(latin, 2), "é€");
}

TEST(Utf8Test, MalformedSequencesAreReplacedOneByteAtATime) {
    EXPECT_EQ(ValidUtf8("plain é"), "plain é");
    EXPECT_EQ(ValidUtf8("a\x90z"), "a\uFFFDz");
    EXPECT_EQ(ValidUtf8("\xC3"), "\uFFFD");                      // cut short
    EXPECT_EQ(ValidUtf8("\xC0\xAF"), "\uFFFD\uFFFD");            // overlong
    EXPECT_EQ(ValidUtf8("\xED\xA0\x80"), "\uFFFD\uFFFD\uFFFD");  // a surrogate
    EXPECT_EQ(ValidUtf8("\xF4\x90\x80\x80").find('\xF4'), std::string::npos);
}

TEST(Utf8Test, LowerTextFoldsTheLettersOfTheDosPages) {
    EXPECT_EQ(LowerText("ÉTÉ.BIN"), "été.bin");
    EXPECT_EQ(LowerText("ØRE ÄÖÜ ÕÑ"), "øre äöü õñ");
    EXPECT_EQ(LowerText("ĄĆĘŁŃŚŹŻ"), "ąćęłńśźż");
    EXPECT_EQ(LowerText("ΑΒΓ ПРИВЕТ Ё"), "αβγ привет ё");
    EXPECT_EQ(LowerText("×ß¥σ"), "×ß¥σ");
    EXPECT_EQ(LowerText("a\xFFz"), "a\uFFFDz");
}

}  // namespace
}  // namespace kestra::format
