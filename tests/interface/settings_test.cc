#include <gtest/gtest.h>

#include <cstdlib>

#include "state/settings.h"

namespace zorsck {
namespace {

struct RegionCase {
  const char* name;
  const char* value;  // null: unset
  bool on;
};

class RegionModeSwitch : public ::testing::TestWithParam<RegionCase> {};

TEST_P(RegionModeSwitch, OnlyTheExactTextOneTurnsItOn) {
  const RegionCase& c = GetParam();
  if (c.value) setenv("ZOR_SCK_REGION", c.value, 1);
  else unsetenv("ZOR_SCK_REGION");
  EXPECT_EQ(regionMode(), c.on);
  // Read once: later changes of the environment do not count.
  setenv("ZOR_SCK_REGION", c.on ? "0" : "1", 1);
  EXPECT_EQ(regionMode(), c.on);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RegionModeSwitch,
    ::testing::Values(RegionCase{"one", "1", true}, RegionCase{"unset", nullptr, false},
                      RegionCase{"empty", "", false}, RegionCase{"zero", "0", false},
                      RegionCase{"true", "true", false}, RegionCase{"leading_zero", "01", false},
                      RegionCase{"space_before", " 1", false},
                      RegionCase{"space_after", "1 ", false}),
    [](const auto& p) { return std::string(p.param.name); });

struct DebugCase {
  const char* name;
  const char* value;
  bool on;
};

class DebugSwitch : public ::testing::TestWithParam<DebugCase> {};

TEST_P(DebugSwitch, PresenceAloneTurnsItOn) {
  const DebugCase& c = GetParam();
  if (c.value) setenv("ZOR_SCK_DEBUG", c.value, 1);
  else unsetenv("ZOR_SCK_DEBUG");
  EXPECT_EQ(debug(), c.on);
  if (c.on) unsetenv("ZOR_SCK_DEBUG");
  else setenv("ZOR_SCK_DEBUG", "1", 1);
  EXPECT_EQ(debug(), c.on);
}

INSTANTIATE_TEST_SUITE_P(Values, DebugSwitch,
                         ::testing::Values(DebugCase{"unset", nullptr, false},
                                           DebugCase{"empty", "", true},
                                           DebugCase{"zero", "0", true},
                                           DebugCase{"one", "1", true}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace zorsck
