// Each library file loaded, used (a stream started, a frame served), closed
// while its stream runs, then loaded and used again: the backends' threads
// outlive dlclose, so the file must stay mapped.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "xvfb_suite.h"
#include "zorsck.h"

namespace zorsck::test {
namespace {

// Loads `path`, ensures and crops until a frame is served, closes it; "" or what failed; test thread.
std::string useAndClose(const char* path) {
  void* lib = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return ::dlerror();
  const auto ensure = reinterpret_cast<decltype(&zor_sck_ensure)>(::dlsym(lib, "zor_sck_ensure"));
  const auto crop = reinterpret_cast<decltype(&zor_sck_crop)>(::dlsym(lib, "zor_sck_crop"));
  std::int32_t answer = ensure != nullptr && crop != nullptr && ensure(0, 60) == 0 ? 1 : -9;
  std::vector<std::uint8_t> out(8 * 8 * 4);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (; answer == 1 && std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
    answer = crop(0, 0, 0, 8, 8, out.data(), nullptr, nullptr);
  }
  ::dlclose(lib);
  return answer == 0 ? "" : std::string(path) + " answered " + std::to_string(answer);
}

class X11Reload : public XvfbSuite, public ::testing::WithParamInterface<const char*> {
 protected:
  static void SetUpTestSuite() { startServer(std::vector<xvfb::Screen>{{1365, 767}}); }
};

TEST_P(X11Reload, ALibraryClosedUnderARunningStreamServesAgain) {
  ASSERT_EQ(useAndClose(GetParam()), "");
  void* still = ::dlopen(GetParam(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(still, nullptr) << "unmapped under its running threads";
  if (still != nullptr) ::dlclose(still);
  ASSERT_EQ(useAndClose(GetParam()), "");
}

INSTANTIATE_TEST_SUITE_P(, X11Reload, ::testing::Values(ZORSCK_SIM_LIBRARY, ZORSCK_X11_LIBRARY),
                         [](const auto& p) { return std::string(p.index == 0 ? "Sim" : "X11"); });

}  // namespace
}  // namespace zorsck::test
