// Log lines when standard error is a pipe that takes nothing: one nobody
// reads, one whose reader has gone, or no handle at all. No call waits much
// longer than the writer's 20 ms, and what does go out goes out whole.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <memory>

#include "state/log.h"
#include "state/stderr_writer.h"

namespace zorsck {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kMessage(4000, 'x');  // 64 of them fill any pipe's buffer

enum class Reader { kNobodyReads, kGone, kNoHandle };

class StderrPipe : public ::testing::TestWithParam<Reader> {};

TEST_P(StderrPipe, NoCallWaitsBeyondTheBound) {
  const HANDLE host = ::GetStdHandle(STD_ERROR_HANDLE);
  HANDLE r = nullptr, w = nullptr;
  ASSERT_TRUE(::CreatePipe(&r, &w, nullptr, 4096));
  std::unique_ptr<void, decltype(&::CloseHandle)> read(r, &::CloseHandle), write(w, &::CloseHandle);
  if (GetParam() == Reader::kGone) read.reset();
  ::SetStdHandle(STD_ERROR_HANDLE, GetParam() == Reader::kNoHandle ? nullptr : write.get());
  Clock::duration slowest{};
  for (int i = 0; i < 64; ++i) {
    const auto start = Clock::now();
    log(kMessage);
    slowest = std::max(slowest, Clock::now() - start);
  }
  EXPECT_LT(slowest, std::chrono::milliseconds(250));  // the writer's 20 ms, and room for Wine's scheduler

  const std::string whole = "[zorsck] " + kMessage + "\n";
  std::string first(GetParam() == Reader::kNobodyReads ? whole.size() : 0, '\0');
  for (DWORD got = 0, n = 0; got < first.size() && ::ReadFile(read.get(), &first[got], DWORD(first.size() - got), &n, nullptr);) got += n;
  if (GetParam() == Reader::kNobodyReads) EXPECT_EQ(first, whole);
  // Once the reader is gone, every write behind the stuck one fails at once.
  read.reset();
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  bool drained = GetParam() == Reader::kNoHandle;
  while (!drained && Clock::now() < deadline) drained = writeStandardErrorBounded("", 0);
  EXPECT_TRUE(drained);
  ::SetStdHandle(STD_ERROR_HANDLE, host);
}

INSTANTIATE_TEST_SUITE_P(Readers, StderrPipe,
                         ::testing::Values(Reader::kNobodyReads, Reader::kGone, Reader::kNoHandle));

}  // namespace
}  // namespace zorsck
