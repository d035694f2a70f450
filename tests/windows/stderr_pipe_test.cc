// Log lines when standard error is a pipe that takes nothing: one nobody
// reads, one whose reader has gone, or no handle at all. No call waits much
// longer than the writer's 20 ms, and what does go out goes out whole.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "state/log.h"
#include "state/stderr_writer.h"

namespace zorsck {
namespace {

using Clock = std::chrono::steady_clock;

// The slowest a call may be: the writer's wait, and room for Wine's scheduler.
constexpr auto kCallBound = std::chrono::milliseconds(250);
// More than any pipe buffers: the writer is stuck well before the end.
constexpr int kCalls = 64;
const std::string kMessage(4000, 'x');

// Closes a handle when it goes.
struct Handle {
  HANDLE h = nullptr;
  ~Handle() {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
};

enum class Reader { kNobodyReads, kGone, kNoHandle };

struct Case {
  const char* name;
  Reader reader;
};

class StderrPipe : public ::testing::TestWithParam<Case> {};

TEST_P(StderrPipe, NoCallWaitsBeyondTheBound) {
  const HANDLE host = ::GetStdHandle(STD_ERROR_HANDLE);
  Handle read, write, nul;
  ASSERT_TRUE(::CreatePipe(&read.h, &write.h, nullptr, 4096));
  nul.h = ::CreateFileW(L"NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(nul.h, INVALID_HANDLE_VALUE);
  if (GetParam().reader == Reader::kGone) {
    ::CloseHandle(read.h);
    read.h = nullptr;
  }
  ::SetStdHandle(STD_ERROR_HANDLE, GetParam().reader == Reader::kNoHandle ? nullptr : write.h);

  Clock::duration slowest{};
  for (int i = 0; i < kCalls; ++i) {
    const auto start = Clock::now();
    log(kMessage);
    slowest = std::max(slowest, Clock::now() - start);
  }
  EXPECT_LT(slowest, kCallBound);

  // The writer's stuck line is let go, and what is queued behind it goes nowhere.
  ::SetStdHandle(STD_ERROR_HANDLE, nul.h);
  if (GetParam().reader == Reader::kNobodyReads) {
    const std::string whole = "[zorsck] " + kMessage + "\n";
    std::string first(whole.size(), '\0');
    DWORD got = 0;
    for (DWORD n = 0; got < first.size() && ::ReadFile(read.h, first.data() + got, static_cast<DWORD>(first.size() - got), &n, nullptr);) {
      got += n;
    }
    EXPECT_EQ(first, whole);
    ::CloseHandle(read.h);
    read.h = nullptr;
  }
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  bool drained = false;
  while (!drained && Clock::now() < deadline) drained = writeStandardErrorBounded("", 0);
  EXPECT_TRUE(drained);
  ::SetStdHandle(STD_ERROR_HANDLE, host);
}

INSTANTIATE_TEST_SUITE_P(Readers, StderrPipe,
                         ::testing::Values(Case{"nobody_reads", Reader::kNobodyReads},
                                           Case{"reader_gone", Reader::kGone},
                                           Case{"no_handle", Reader::kNoHandle}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zorsck
