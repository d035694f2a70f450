// The scenarios of the robustness matrix, run against the rig of the backend
// this executable tests (see robustness_matrix.h). One row each:
//
// | scenario          | what must hold                                                          |
// |-------------------|-------------------------------------------------------------------------|
// | Cycles            | 1,000 crop-to-0 / stop cycles: descriptors < 10, threads 0, private RSS < 2 MB |
// | Stopped/<dep>     | calls return within 5 ms (the first within 1 s); frames 5 s after SIGCONT |
// | Killed/<dep>      | crops answer 1, -1 or 0 with the old picture; then the new within 10 s  |
// | Geometry          | never 0 with pixels of another place; new geometry after one restart   |
// | HostileStateFiles | nothing written outside the state directory; capture works              |
// | ForgedMessages    | no effect on the stream                                                 |
// | Relinks           | a stream linked anew after every stop on a changing screen: frames at the first link's rate |
// | Threads           | a 64x64 crop loop within the rig's thread budget; idle budget after the idle stop |
#include "robustness_matrix.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>  // before psapi.h
#include <psapi.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/library_threads.h"
#include "support/stderr_capture.h"
#include "zorsck.h"

namespace zorsck::matrix {
namespace {

using namespace test;

// Crops `r` until the answer is neither 1, nor one of `passing`, nor 0 with
// the picture of a generation in `earlier` (a frame grabbed before the last
// change, served until the library learns of it), for at most `patience`.
// Any other 0 must show `generation`. The last answer (status -9 when none
// came in time); test thread.
Crop cropUntilSettled(const Rig& rig, const Rect& r, int generation, Clock::duration patience,
                      std::vector<int> earlier = {}, std::vector<std::int32_t> passing = {}) {
  Crop c;
  const bool settled = waitUntil([&] {
    c = crop(0, r);
    if (c.status == 0) {
      if (std::any_of(earlier.begin(), earlier.end(), [&](int g) { return rig.compare(c.pixels, r, g).empty(); })) {
        return false;
      }
      EXPECT_EQ(rig.compare(c.pixels, r, generation), "") << "a crop at " << r.x << "," << r.y << " answered 0";
      return true;
    }
    return c.status != 1 && std::find(passing.begin(), passing.end(), c.status) == passing.end();
  }, patience, 1ms);
  if (!settled) c.status = -9;
  return c;
}

// Checks that `c` is an answer 0 showing `generation` at `r`; test thread.
::testing::AssertionResult shows(const Rig& rig, const Crop& c, const Rect& r, int generation) {
  return served(c, [&] { return rig.compare(c.pixels, r, generation); });
}

// Crops `r` until it shows `generation`, for at most `patience`; test thread.
::testing::AssertionResult servedWithin(const Rig& rig, const Rect& r, int generation, Clock::duration patience) {
  Crop c;
  waitUntil([&] { return (c = crop(0, r)).status == 0 && rig.compare(c.pixels, r, generation).empty(); }, patience, 1ms);
  return shows(rig, c, r, generation);
}

// ---- process resources -------------------------------------------------------

struct Resources {
  int descriptors = 0, threads = 0;  // descriptors: handles on Windows
  long residentKb = 0;
};

#if defined(_WIN32)
// This process's handles, threads and private memory now. Handles are the
// values among the first 16,384 that GetHandleInformation knows (Wine's
// GetProcessHandleCount answers 0); memory is the commit charge (under Wine
// the private resident pages, RssAnon, and swap); test thread.
Resources resources() {
  PROCESS_MEMORY_COUNTERS memory{};
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory);
  Resources r{0, static_cast<int>(threadDescriptions().size()), static_cast<long>(memory.PagefileUsage / 1024)};
  DWORD flags = 0;
  for (std::uintptr_t value = 4; value <= 0x10000; value += 4) {
    r.descriptors += ::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
  }
  return r;
}
#else
// Entries of a /proc directory, "." and ".." aside; test thread.
int entries(const char* path) {
  int n = 0;
  if (DIR* dir = ::opendir(path)) {
    while (const dirent* e = ::readdir(dir)) n += e->d_name[0] != '.';
    ::closedir(dir);
  }
  return n - (std::string(path) == "/proc/self/fd" ? 1 : 0);  // the directory's own descriptor
}

// This process's descriptors, threads and private resident memory now: pages
// of frame buffers that a display server shares are mapped as the server
// hands them out, and counted apart (RssShmem); test thread.
Resources resources() {
  Resources r{entries("/proc/self/fd"), entries("/proc/self/task"), 0};
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("RssAnon:", 0) == 0) r.residentKb = std::atol(line.c_str() + 8);
  }
  return r;
}
#endif

// ---- the scenarios ---------------------------------------------------------------

const Rect kProbe{16, 16, 64, 48};  // on every display the rigs make

// 1,000 fast crop-to-0 / stop cycles leave descriptors, threads and resident memory flat.
void cycles(Rig& rig, const Dependency*) {
  const auto cycle = [&rig](int i) {
    const Crop c = cropUntilSettled(rig, kProbe, 1, 5s);
    zor_sck_stop();
    ASSERT_TRUE(shows(rig, c, kProbe, 1)) << "cycle " << i;
  };
  // Cycles from several threads at once first, so that every pool of threads
  // the library keeps has grown to its size before the count is taken.
  {
    std::vector<std::jthread> hosts;
    for (int t = 0; t < 4; ++t) {
      hosts.emplace_back([] {
        for (int i = 0; i < 50; ++i) {
          waitUntil([] { return crop(0, kProbe).status != 1; }, 5s, 1ms);
          zor_sck_stop();
        }
      });
    }
  }
  std::this_thread::sleep_for(500ms);
  const Resources before = resources();
  // Not ASSERT_NO_FATAL_FAILURE: GoogleTest starts a thread at its first use on Windows.
  for (int i = 0; i < 1000 && !::testing::Test::HasFatalFailure(); ++i) cycle(i);
  if (::testing::Test::HasFatalFailure()) return;
  // The last stream's thread, connection and frames go a moment after the stop.
  Resources after;
  waitUntil([&] { return (after = resources()).threads <= before.threads && after.descriptors < before.descriptors + 10 &&
                         after.residentKb < before.residentKb + 2048; }, 5s, 1ms);
  EXPECT_LT(after.descriptors - before.descriptors, 10) << "descriptors: " << before.descriptors << " -> " << after.descriptors;
  EXPECT_LE(after.threads - before.threads, 0) << "threads: " << before.threads << " -> " << after.threads;
  EXPECT_LT(after.residentKb - before.residentKb, 2048) << "resident kB: " << before.residentKb << " -> " << after.residentKb;
  std::printf("[ measured ] descriptors %+d, threads %+d, resident %+ld kB\n", after.descriptors - before.descriptors,
              after.threads - before.threads, after.residentKb - before.residentKb);
}

#if defined(_WIN32)
// No signal stops a process on Windows: its rig names no dependency, so the
// row is skipped as not applicable before it runs.
void stopped(Rig& rig, const Dependency*) { ADD_FAILURE() << "no signal stops a process of " << rig.name(); }
#else
// ---- timed calls ---------------------------------------------------------------

// Times every library call of a phase. A call over the bound is tried again
// at once: a call held up by the stopped dependency is late again, one that
// lost the processor is not.
class CallClock {
 public:
  explicit CallClock(Clock::duration bound) : bound_(bound) {}
  // Runs `call` (again when late); its answer; test thread.
  template <typename Call>
  auto operator()(const char* what, Call call) {
    auto answer = timed(call);
    if (last_ > bound_) answer = timed(call);
    if (last_ > bound_) late_.push_back(std::string(what) + " took " + std::to_string(last_ / 1us) + " us");
    longest_ = std::max(longest_, last_);
    ++calls_;
    return answer;
  }
  const std::vector<std::string>& late() const { return late_; }
  // How many calls were made, and the longest of their last tries.
  int calls() const { return calls_; }
  Clock::duration longest() const { return longest_; }

 private:
  template <typename Call>
  auto timed(Call call) {
    const Clock::time_point start = Clock::now();
    auto answer = call();
    last_ = Clock::now() - start;
    return answer;
  }
  const Clock::duration bound_;
  Clock::duration last_{}, longest_{};
  int calls_ = 0;
  std::vector<std::string> late_;
};

// Calls every function for `span` with the clock's bound, stopping the stream
// now and then; every crop answers 1 or -1, or 0 with `generation` at `r`; test thread.
void callThroughout(const Rig& rig, CallClock& clock, const Rect& r, int generation, Clock::duration span) {
  const Clock::time_point end = Clock::now() + span;
  for (int i = 0; Clock::now() < end; ++i) {
    const Crop c = clock("zor_sck_crop", [&] { return crop(0, r); });
    if (c.status == 0) {
      EXPECT_TRUE(shows(rig, c, r, generation));
    }
    EXPECT_TRUE(c.status == 0 || c.status == 1 || c.status == -1) << "crop answered " << c.status;
    std::vector<std::uint8_t> out(std::size_t{r.w} * r.h * 4);
    clock("zor_sck_crop_seq", [&] { return zor_sck_crop_seq(0, c.seq, r.x, r.y, r.w, r.h, out.data(), nullptr, nullptr); });
    clock("zor_sck_seq", [] { return zor_sck_seq(); });
    clock("zor_sck_ensure", [] { return zor_sck_ensure(0, 60); });
    if (i % 100 == 99) clock("zor_sck_stop", [] { return zor_sck_stop(), 0; });
    std::this_thread::sleep_for(1ms);
  }
}

// A dependency stopped before the first call and again under a running
// stream holds up no call; frames come again once it continues.
void stopped(Rig& rig, const Dependency* dependency) {
  ASSERT_GT(dependency->pid, 0);
  const pid_t pid = dependency->pid;
  ASSERT_EQ(::kill(pid, SIGSTOP), 0);
  const Clock::time_point first = Clock::now();
  zor_sck_ensure(0, 60);
  const Clock::duration firstCall = Clock::now() - first;
  EXPECT_LE(firstCall, 1s) << "the first call";
  CallClock clock(5ms);
  callThroughout(rig, clock, kProbe, 1, 1s);
  ASSERT_EQ(::kill(pid, SIGCONT), 0);
  EXPECT_TRUE(servedWithin(rig, kProbe, 1, 5s)) << "after the first stop";

  ASSERT_EQ(::kill(pid, SIGSTOP), 0);
  callThroughout(rig, clock, kProbe, 1, 1s);
  ASSERT_EQ(::kill(pid, SIGCONT), 0);
  ASSERT_EQ(rig.paint(2), "");
  EXPECT_TRUE(servedWithin(rig, kProbe, 2, 5s)) << "after the second stop";
  for (const std::string& late : clock.late()) ADD_FAILURE() << late << " while " << dependency->name << " was stopped";
  std::printf("[ measured ] first call %lld ms; %d calls, the longest %lld us\n", static_cast<long long>(firstCall / 1ms),
              clock.calls(), static_cast<long long>(clock.longest() / 1us));
}
#endif

// A dependency killed under a stream and started again: crops answer 1 or
// -1 meanwhile, or 0 with the picture from before (a cast that outlives its
// portal runs on), and within 10 s 0 with the new server's picture.
void killed(Rig& rig, const Dependency* dependency) {
  ASSERT_TRUE(servedWithin(rig, kProbe, 1, 10s));
  ASSERT_EQ(rig.restart(dependency->name, 2), "");
  const Clock::time_point restarted = Clock::now();
  const Crop c = cropUntilSettled(rig, kProbe, 2, 10s, {1}, {-1});
  EXPECT_TRUE(shows(rig, c, kProbe, 2)) << "after " << dependency->name << " was started again";
  std::printf("[ measured ] frames %lld ms after the new start\n", static_cast<long long>((Clock::now() - restarted) / 1ms));
}

// The display's size changes under streams and between them: no crop answers
// 0 with pixels of another place; the new geometry is served after one restart.
void geometry(Rig& rig, const Dependency*) {
  const std::vector<Size> sizes = rig.sizes();
  if (sizes.size() < 2) GTEST_SKIP() << "not applicable: " << rig.name() << " cannot change the display's size";
  const Size big = sizes[0], small = sizes[1];
  ASSERT_TRUE(big.width > small.width && big.height > small.height);
  // On the big display only, near its far corner; and on both.
  const Rect corner{big.width - 124, big.height - 68, 16, 16};
  const Rect inner{100, 100, 32, 32};
  StderrCapture err;
  const auto starts = [&err] { return test::countLines(err.lines(), "[zorsck] stream started"); };
  ASSERT_TRUE(servedWithin(rig, corner, 1, 10s));

  // Under the stream, smaller: the corner is no longer servable.
  ASSERT_EQ(rig.resize(small, 2), "");
  EXPECT_EQ(cropUntilSettled(rig, corner, 2, 5s, {1}).status, 2) << "shrunk under a stream";
  EXPECT_TRUE(servedWithin(rig, inner, 2, 5s));

  // Under the stream, larger again: one restart serves the corner.
  int before = starts();
  ASSERT_EQ(rig.resize(big, 3), "");
  EXPECT_TRUE(shows(rig, cropUntilSettled(rig, corner, 3, 5s, {}, {2}), corner, 3)) << "grown under a stream";
  EXPECT_EQ(starts(), before + 1);

  // Between streams, smaller: 2 for the corner, never black pixels.
  zor_sck_stop();
  ASSERT_EQ(rig.resize(small, 4), "");
  EXPECT_EQ(cropUntilSettled(rig, corner, 4, 5s).status, 2) << "shrunk between streams";
  EXPECT_TRUE(servedWithin(rig, inner, 4, 5s));

  // Between streams, larger again: the first start serves the corner (a crop
  // that comes before the library has heard of the change may answer 2).
  zor_sck_stop();
  before = starts();
  ASSERT_EQ(rig.resize(big, 5), "");
  EXPECT_TRUE(shows(rig, cropUntilSettled(rig, corner, 5, 5s, {}, {2}), corner, 5)) << "grown between streams";
  EXPECT_EQ(starts(), before + 1);
}

// Every file (and directory) of state, planted as a link to a file outside,
// a FIFO, or a directory of another mode: capture works, and nothing outside
// changes.
void hostileStateFiles(Rig& rig, const Dependency*) {
  const std::vector<StatePath> paths = rig.statePaths();
  if (paths.empty()) GTEST_SKIP() << "not applicable: " << rig.name() << " keeps no state files";
#if defined(_WIN32)
  ADD_FAILURE() << "links, FIFOs and modes of files are planted on POSIX systems only";
#else
  namespace fs = std::filesystem;
  char outsideName[] = "/tmp/zorsck-outside-XXXXXX";
  ASSERT_NE(::mkdtemp(outsideName), nullptr);
  const fs::path outside = outsideName;
  const fs::path canary = outside / "canary";
  std::ofstream(canary) << "a user's file";
  int generation = 1;
  for (const StatePath& state : paths) {
    const fs::path path = state.path;
    const std::vector<std::string> plants =
        state.directory ? std::vector<std::string>{"link", "open mode"} : std::vector<std::string>{"link", "fifo"};
    for (const std::string& plant : plants) {
      zor_sck_stop();
      std::error_code ec;
      if (!state.directory || plant == "link") fs::remove_all(path, ec);
      fs::create_directories(path.parent_path(), ec);
      if (plant == "link") fs::create_symlink(state.directory ? outside : canary, path, ec);
      if (plant == "fifo") {
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
      }
      if (plant == "open mode") {
        fs::create_directories(path, ec);
        ASSERT_EQ(::chmod(path.c_str(), 0777), 0) << path;
      }
      ASSERT_EQ(rig.paint(++generation), "");
      EXPECT_TRUE(servedWithin(rig, kProbe, generation, 10s)) << plant << " at " << path;
      std::ifstream read(canary);
      const std::string kept((std::istreambuf_iterator<char>(read)), std::istreambuf_iterator<char>());
      EXPECT_EQ(kept, "a user's file") << plant << " at " << path;
      EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1) << plant << " at " << path;
      fs::remove_all(path, ec);
    }
  }
  fs::remove_all(outside);
#endif
}

// Messages forged by another client of the bus leave the running stream alone.
void forgedMessages(Rig& rig, const Dependency*) {
  std::vector<Forgery> forgeries = rig.forgeries();
  if (forgeries.empty()) GTEST_SKIP() << "not applicable: " << rig.name() << " listens to no bus";
  StderrCapture err;
  ASSERT_TRUE(servedWithin(rig, kProbe, 1, 10s));
  const int starts = test::countLines(err.lines(), "[zorsck] stream started");
  for (Forgery& forgery : forgeries) {
    ASSERT_EQ(forgery.send(), "") << forgery.name;
    const Clock::time_point end = Clock::now() + 1s;
    while (Clock::now() < end) {
      ASSERT_TRUE(shows(rig, crop(0, kProbe), kProbe, 1)) << "after a forged " << forgery.name;
      std::this_thread::sleep_for(10ms);
    }
  }
  ASSERT_EQ(rig.paint(2), "");
  EXPECT_TRUE(servedWithin(rig, kProbe, 2, 5s));
  EXPECT_EQ(test::countLines(err.lines(), "[zorsck] stream stopped"), 0);
  EXPECT_EQ(test::countLines(err.lines(), "[zorsck] stream started"), starts);
}

struct Row {
  const char* name;
  bool perDependency;  // one case for each of the rig's dependencies
  void (*run)(Rig&, const Dependency*);
};

// A 64x64 crop loop over a changing display stays within the rig's thread
// budget and its frames never wake the loop (on Windows: a still display
// brings none); the idle stop leaves less.
void threads(Rig& rig, const Dependency*) {
  const std::pair<int, int> budget = rig.threadBudget();  // streaming, idle
  if (budget.first == 0) GTEST_SKIP() << rig.name() << " states no thread budget yet";
  const Rect r{16, 16, 64, 64};
  ASSERT_TRUE(zor_sck_ensure(0, 60) == 0 && servedWithin(rig, r, 1, 10s));  // ensure arms the idle stop
  long sleptBefore = 0, slept = 0;
  test::libraryThreads(&sleptBefore);
  const std::uint64_t firstSeq = zor_sck_seq();
  for (int g = 2; g <= 41; ++g) ASSERT_TRUE(rig.paint(g).empty() && servedWithin(rig, r, g, 5s)) << "generation " << g;
  EXPECT_LE(test::libraryThreads(&slept), budget.first);
#if defined(_WIN32)  // Windows counts no sleeps of a thread: there a still screen must bring no frames instead
  const std::uint64_t still = zor_sck_seq();
  for (int i = 0; i < 20; ++i, std::this_thread::sleep_for(25ms)) EXPECT_EQ(crop(0, r).status, 0);
  EXPECT_EQ(zor_sck_seq(), still) << "frames of a still screen (" << still - firstSeq << " while it changed)";
#else
  EXPECT_LT(slept - sleptBefore, static_cast<long>(zor_sck_seq() - firstSeq) / 4) << "loop sleeps per 4 frames";
#endif
  EXPECT_TRUE(waitUntil([&] { return test::libraryThreads() <= budget.second; }, 12s, 1ms)) << "after the idle stop";
}

// A stream linked anew after each of many stops, on a display that keeps
// changing: each link serves the screen as it is now, and frames come at
// the first link's rate while the host does not crop, however many links
// the process has made.
void relinks(Rig& rig, const Dependency*) {
  const auto [gap, links] = rig.relinks();
  if (links == 0) GTEST_SKIP() << "not applicable: each start of " << rig.name() << " makes a new stream";
  std::vector<int> rates, outOfBuffers;
  for (int link = 1; link <= links; ++link) {
    const int before = rig.producerOutOfBuffers();
    ASSERT_EQ(rig.paint(link), "");
    ASSERT_TRUE(shows(rig, cropUntilSettled(rig, kProbe, link, 10s, {link - 1}), kProbe, link)) << "link " << link;
    const std::uint64_t from = zor_sck_seq();
    std::this_thread::sleep_for(1s);
    rates.push_back(static_cast<int>(zor_sck_seq() - from));
    EXPECT_GE(rates.back() * 2, rates.front()) << "frames a second at link " << link << ": " << testing::PrintToString(rates);
    zor_sck_stop();
    std::this_thread::sleep_for(gap);
    if (before >= 0) outOfBuffers.push_back(rig.producerOutOfBuffers() - before);
    EXPECT_LE(outOfBuffers.empty() ? 0 : outOfBuffers.back(), 4) << "the producer ran out of buffers at link " << link;
  }
  std::printf("[ measured ] frames a second at each link: %s; producer out of buffers: %s\n",
              testing::PrintToString(rates).c_str(), testing::PrintToString(outOfBuffers).c_str());
}

constexpr Row kRows[] = {
    {"Cycles", false, cycles},
    {"Stopped", true, stopped},
    {"Killed", true, killed},
    {"Geometry", false, geometry},
    {"HostileStateFiles", false, hostileStateFiles},
    {"ForgedMessages", false, forgedMessages},
    {"Relinks", false, relinks},
    {"Threads", false, threads},
};

struct Case {
  const Row* row = nullptr;
  int dependency = -1;  // index into the rig's dependencies
  std::string name;
};

// Names a case in test output; test thread.
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// The cases of every row for this executable's rig; at test registration.
std::vector<Case> cases() {
  std::vector<Case> all;
  const std::unique_ptr<Rig> rig = makeRig();
  const std::vector<Dependency> dependencies = rig->dependencies();
  for (const Row& row : kRows) {
    // A row per dependency is one case, skipped, for a rig that names none.
    if (!row.perDependency || dependencies.empty()) {
      all.push_back({&row, -1, row.name});
      continue;
    }
    for (std::size_t i = 0; i < dependencies.size(); ++i) {
      // "X server" names the case Stopped_XServer.
      std::string name = std::string(row.name) + "_";
      bool wordStart = true;
      for (const char ch : dependencies[i].name) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c)) name += static_cast<char>(wordStart ? std::toupper(c) : c);
        wordStart = !std::isalnum(c);
      }
      all.push_back({&row, static_cast<int>(i), name});
    }
  }
  return all;
}

class RobustnessMatrix : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    rig_ = makeRig();
    // Before the servers start: a known fault costs no start of them.
    const std::string fault = rig_->knownFault(GetParam().row->name);
    if (!fault.empty()) GTEST_SKIP() << "known fault, not mended: " << fault;
    const std::string failure = rig_->start();
    if (failure.rfind("skip: ", 0) == 0) GTEST_SKIP() << failure.substr(6);
    ASSERT_EQ(failure, "");
  }
  void TearDown() override {
    zor_sck_stop();
    rig_.reset();
  }
  std::unique_ptr<Rig> rig_;
};

TEST_P(RobustnessMatrix, Holds) {
  const Case& c = GetParam();
  std::vector<Dependency> dependencies = rig_->dependencies();
  const Dependency* dependency = c.dependency >= 0 ? &dependencies.at(static_cast<std::size_t>(c.dependency)) : nullptr;
  if (c.row->perDependency && !dependency) GTEST_SKIP() << "not applicable: " << rig_->name() << " talks to no server process";
  c.row->run(*rig_, dependency);
}

INSTANTIATE_TEST_SUITE_P(Matrix, RobustnessMatrix, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& each) { return each.param.name; });

}  // namespace
}  // namespace zorsck::matrix
