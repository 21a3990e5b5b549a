#include "rtl/System.h"

#include <gtest/gtest.h>

namespace {

enum TColor : uint8_t { clRed, clGreen, clBlue };

TEST(SystemTest, ExceptionKeepsMessageAndClass) {
  try {
    throw vcl::EReadError("bad stream");
  } catch (const vcl::EStreamError& e) {
    EXPECT_EQ(e.Message(), "bad stream");
    EXPECT_STREQ(e.what(), "bad stream");
    EXPECT_EQ(e.ClassName(), "EReadError");
  }
}

TEST(SystemTest, SetOperations) {
  vcl::Set<TColor> s{clRed, clBlue};
  EXPECT_TRUE(s.Contains(clRed));
  EXPECT_FALSE(s.Contains(clGreen));
  s.Exclude(clRed).Include(clGreen);
  EXPECT_EQ(s, (vcl::Set<TColor>{clGreen, clBlue}));
  EXPECT_EQ(s - vcl::Set<TColor>{clBlue}, vcl::Set<TColor>{clGreen});
  EXPECT_TRUE(vcl::Set<TColor>{}.Empty());
}

}  // namespace
