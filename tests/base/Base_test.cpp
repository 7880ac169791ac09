// The base layer: message formatting, UTF-8 <-> UTF-16 at the edges of what is valid, the
// scope guard and the COM initialiser.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "BaseCom.h"
#include "BaseScopeGuard.h"
#include "BaseText.h"

namespace {

TEST(BaseFormat, ShortLongAndNumericMessages) {
  EXPECT_EQ(base::Format("Invalid PageNo = %d", -1), "Invalid PageNo = -1");
  EXPECT_EQ(base::Format("%05d", 237), "00237");
  EXPECT_EQ(base::Format("%lld rows", 12345678901LL), "12345678901 rows");
  // Past the small buffer: nothing cut off.
  const std::string big(3000, 'x');
  const std::string text = base::Format("[%s]", big.c_str());
  ASSERT_EQ(text.size(), 3002u);
  EXPECT_EQ(text.front(), '[');
  EXPECT_EQ(text.back(), ']');
  // An embedded CR LF and quotes pass unchanged.
  EXPECT_EQ(base::Format("Error %s.\r\n\"%s\"", "EDbTransfer", "x"), "Error EDbTransfer.\r\n\"x\"");
}

TEST(BaseUtf, RoundTripsEveryPlane) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  const std::u16string utf16 = base::Utf8ToUtf16(utf8);
  EXPECT_EQ(utf16, (std::u16string{u'a', 0x00E9, 0x20AC, 0xD83D, 0xDE00, u'z'}));
  EXPECT_EQ(base::Utf16ToUtf8(utf16), utf8);
  EXPECT_EQ(base::Utf8ToUtf16(""), u"");
  // The largest code point and the last ones before and after the surrogate range.
  EXPECT_EQ(base::Utf8ToUtf16("\xF4\x8F\xBF\xBF"), (std::u16string{0xDBFF, 0xDFFF}));
  EXPECT_EQ(base::Utf8ToUtf16("\xED\x9F\xBF\xEE\x80\x80"), (std::u16string{0xD7FF, 0xE000}));
}

TEST(BaseUtf, InvalidInputBecomesReplacementCharacters) {
  const char16_t bad = 0xFFFD;
  // A lone continuation byte, a truncated sequence at the end, an overlong slash, an encoded
  // surrogate and a code point past U+10FFFF: one replacement per bad byte, nothing lost after.
  EXPECT_EQ(base::Utf8ToUtf16("\x80"
                              "a"),
            (std::u16string{bad, u'a'}));
  EXPECT_EQ(base::Utf8ToUtf16("a\xE2\x82"), (std::u16string{u'a', bad, bad}));
  EXPECT_EQ(base::Utf8ToUtf16("\xC0\xAF"), (std::u16string{bad, bad}));
  EXPECT_EQ(base::Utf8ToUtf16("\xED\xA0\x80"), (std::u16string{bad, bad, bad}));
  EXPECT_EQ(base::Utf8ToUtf16("\xF4\x90\x80\x80"), (std::u16string{bad, bad, bad, bad}));
  // Unpaired surrogates in UTF-16, at the end and before an ordinary unit.
  EXPECT_EQ(base::Utf16ToUtf8(std::u16string{u'a', 0xD800}), "a\xEF\xBF\xBD");
  EXPECT_EQ(base::Utf16ToUtf8(std::u16string{0xDC00, u'b'}),
            "\xEF\xBF\xBD"
            "b");
}

TEST(BaseScopeGuard, RunsOnceOnEveryExitUnlessDismissed) {
  int runs = 0;
  {
    const auto g = base::OnScopeExit([&] { ++runs; });
  }
  EXPECT_EQ(runs, 1);
  try {
    const auto g = base::OnScopeExit([&] { ++runs; });
    throw std::runtime_error("unwinding");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(runs, 2);
  {
    auto g = base::OnScopeExit([&] { ++runs; });
    g.Dismiss();
  }
  EXPECT_EQ(runs, 2);
  {
    auto g = base::OnScopeExit([&] { ++runs; });
    auto moved = std::move(g);  // the action moves with it and still runs only once
  }
  EXPECT_EQ(runs, 3);
}

TEST(BaseCom, InitialisesOnlyWhereComExists) {
  const base::TComInitializer com;
#ifdef _WIN32
  EXPECT_TRUE(com.Initialised());
  // A second one on the same thread succeeds too (S_FALSE) and must be undone as well.
  const base::TComInitializer again;
  EXPECT_TRUE(again.Initialised());
#else
  EXPECT_FALSE(com.Initialised());
#endif
}

}  // namespace
