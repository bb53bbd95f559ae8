// Texts from the pool reach the terminal only in a harmless form.
#include <gtest/gtest.h>

#include <string>

#include "app/printable.h"

namespace {

using ilvo::printable;

TEST(PoolText, PrintableAsciiAndUtf8PassUnchanged) {
  EXPECT_EQ(printable(""), "");
  EXPECT_EQ(printable("job-42 \"low difficulty\" \\ ~"), "job-42 \"low difficulty\" \\ ~");
  EXPECT_EQ(printable("grün · 日本 · 😀"), "grün · 日本 · 😀");
  EXPECT_EQ(printable("\xC2\xA0"), "\xC2\xA0");  // U+00A0, the first code point after C1
}

TEST(PoolText, ControlsAndEscapeSequencesAreShownAsHex) {
  EXPECT_EQ(printable("\x1b]0;pwned\x07"), "\\x1B]0;pwned\\x07");
  EXPECT_EQ(printable("a\rb\nc\td\x7f"), "a\\x0Db\\x0Ac\\x09d\\x7F");
  EXPECT_EQ(printable(std::string("x\0y", 3)), "x\\x00y");
  // C1 controls in UTF-8 (CSI U+009B, NEL U+0085) and as raw 8-bit bytes.
  EXPECT_EQ(printable("\xC2\x9B" "2J"), "\\xC2\\x9B2J");
  EXPECT_EQ(printable("\xC2\x85"), "\\xC2\\x85");
  EXPECT_EQ(printable("\x9b" "31m"), "\\x9B31m");
}

TEST(PoolText, InvalidUtf8IsShownAsHex) {
  EXPECT_EQ(printable("\xC0\xAF"), "\\xC0\\xAF");                   // overlong '/'
  EXPECT_EQ(printable("\xE0\x80\xAF"), "\\xE0\\x80\\xAF");          // overlong
  EXPECT_EQ(printable("\xED\xA0\x80"), "\\xED\\xA0\\x80");          // surrogate
  EXPECT_EQ(printable("\xF4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");  // above U+10FFFF
  EXPECT_EQ(printable("ok\xE6\x97"), "ok\\xE6\\x97");              // cut at the end
  EXPECT_EQ(printable("\xE6" "A"), "\\xE6A");                       // lead without continuation
  EXPECT_EQ(printable("\xFF\xFE"), "\\xFF\\xFE");
}

}  // namespace
