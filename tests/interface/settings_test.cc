// The two switches: region mode takes exactly "1", statistics any value, even an
// empty one. Each is read once: later changes of the environment do not count.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>

#include "state/settings.h"

namespace zorsck {
namespace {

// The variable, its value (null: unset), and whether the switch is on.
class Switch : public ::testing::TestWithParam<std::tuple<const char*, const char*, bool>> {};

TEST_P(Switch, IsReadOnceFromTheEnvironment) {
  const auto [variable, value, on] = GetParam();
  bool (*const read)() = std::string(variable) == "ZOR_SCK_REGION" ? regionMode : debug;
#if defined(_WIN32)
  if (value != nullptr && *value == '\0') GTEST_SKIP() << "the Windows C runtime has no empty variables";
#endif
  if (value != nullptr) setenv(variable, value, 1);
  else unsetenv(variable);
  EXPECT_EQ(read(), on);
  if (on) unsetenv(variable);
  else setenv(variable, "1", 1);
  EXPECT_EQ(read(), on);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Switch,
    ::testing::Values(std::make_tuple("ZOR_SCK_REGION", "1", true),
                      std::make_tuple("ZOR_SCK_REGION", nullptr, false),
                      std::make_tuple("ZOR_SCK_REGION", "0", false),
                      std::make_tuple("ZOR_SCK_REGION", "1 ", false),
                      std::make_tuple("ZOR_SCK_DEBUG", nullptr, false),
                      std::make_tuple("ZOR_SCK_DEBUG", "", true),
                      std::make_tuple("ZOR_SCK_DEBUG", "0", true)));

}  // namespace
}  // namespace zorsck
