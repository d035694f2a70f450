#include <gtest/gtest.h>

#include <type_traits>

#include "zorsck.h"

extern "C" int zorsck_header_c_check(void);

TEST(PublicHeader, CompilesAsCAndCxxWithTheDocumentedTypes) {
  EXPECT_EQ(zorsck_header_c_check(), 0 + 1 + 2 + 3 - 1);
  static_assert(std::is_same_v<decltype(&zor_sck_ensure), int32_t (*)(uint32_t, int32_t)>);
  static_assert(std::is_same_v<decltype(&zor_sck_crop),
                               int32_t (*)(uint32_t, int32_t, int32_t, uint32_t, uint32_t,
                                           uint8_t*, uint64_t*, uint64_t*)>);
  static_assert(std::is_same_v<decltype(&zor_sck_crop_seq),
                               int32_t (*)(uint32_t, uint64_t, int32_t, int32_t, uint32_t,
                                           uint32_t, uint8_t*, uint64_t*, uint64_t*)>);
  static_assert(std::is_same_v<decltype(&zor_sck_seq), uint64_t (*)()>);
  static_assert(std::is_same_v<decltype(&zor_sck_stop), void (*)()>);
}

TEST(PublicHeader, SeqIsZeroBeforeAnyFrame) { EXPECT_EQ(zor_sck_seq(), 0u); }
