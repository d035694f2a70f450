#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "state/settings.h"

namespace zorsck {
namespace {

struct SwitchCase {
  const char* name;
  const char* variable;
  const char* value;  // null: unset
  bool on;
};

class Switch : public ::testing::TestWithParam<SwitchCase> {};

// Region mode takes exactly "1"; statistics take any value, even an empty one.
// Each is read once: later changes of the environment do not count.
TEST_P(Switch, IsReadOnceFromTheEnvironment) {
  const SwitchCase& c = GetParam();
  bool (*const read)() = std::string(c.variable) == "ZOR_SCK_REGION" ? regionMode : debug;
  if (c.value) setenv(c.variable, c.value, 1);
  else unsetenv(c.variable);
  EXPECT_EQ(read(), c.on);
  if (c.on) unsetenv(c.variable);
  else setenv(c.variable, "1", 1);
  EXPECT_EQ(read(), c.on);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Switch,
    ::testing::Values(SwitchCase{"region_one", "ZOR_SCK_REGION", "1", true},
                      SwitchCase{"region_unset", "ZOR_SCK_REGION", nullptr, false},
                      SwitchCase{"region_empty", "ZOR_SCK_REGION", "", false},
                      SwitchCase{"region_zero", "ZOR_SCK_REGION", "0", false},
                      SwitchCase{"region_leading_zero", "ZOR_SCK_REGION", "01", false},
                      SwitchCase{"region_space_after", "ZOR_SCK_REGION", "1 ", false},
                      SwitchCase{"debug_unset", "ZOR_SCK_DEBUG", nullptr, false},
                      SwitchCase{"debug_empty", "ZOR_SCK_DEBUG", "", true},
                      SwitchCase{"debug_zero", "ZOR_SCK_DEBUG", "0", true}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace zorsck
