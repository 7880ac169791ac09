#include "EdbException.h"

#include <gtest/gtest.h>

using namespace edb;

TEST(EdbException, MessageEndsWithNativeCode) {
  try {
    EdbRaise(errc::kIncorrectPassword, "Cannot open database because incorrect password");
    FAIL();
  } catch (const EEdbException& e) {
    EXPECT_EQ(e.NativeError(), errc::kIncorrectPassword);
    EXPECT_STREQ(e.what(), "Cannot open database because incorrect password - Native error: 30445");
    EXPECT_EQ(e.BareMessage(), "Cannot open database because incorrect password");
  }
}
