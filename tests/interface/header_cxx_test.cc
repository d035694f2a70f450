// The public headers compile as C++ too; the C side checks the functions' types.
#include <gtest/gtest.h>

#include "zorsck.h"
#include "zorsck_ext.h"

extern "C" int zorsck_header_c_check(void);

TEST(PublicHeader, CompilesAsCAndCxxWithTheDocumentedTypes) {
  EXPECT_EQ(zorsck_header_c_check(), 0 + 1 + 2 + 3 - 1);
}

TEST(PublicHeader, SeqIsZeroBeforeAnyFrame) { EXPECT_EQ(zor_sck_seq(), 0u); }
