// Capture cost per frame of streams run straight through the platform layer,
// as fast as the backend captures: frames per second over timed windows, and
// where the CPU time went (this process by thread, and the X server).
//
//   zorsck-x11-capture-rate [--server-pid PID] [--windows N] [--window-seconds S] STREAM...
//
// STREAM is NAME=full, NAME=X,Y,W,H, or NAME=region:X,Y,W,H for the rectangle
// that region mode streams for crops of (X, Y, W, H). Prints one JSON object a
// line per STREAM; exits 1 when a stream fails or shows the wrong pixels.
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "crop/region.h"
#include "platform/platform.h"
#include "platform_stream.h"
#include "thread_cpu.h"

namespace zorsck::xbench {
namespace {

using Clock = std::chrono::steady_clock;

// Frames a stream delivers before the timed windows begin.
constexpr std::uint64_t kWarmUpFrames = 30;

// What the command line asks for.
struct Options {
  pid_t serverPid = 0;
  int windows = 5;
  double windowSeconds = 1.0;
  std::vector<std::string> streams;
};

// One stream to measure.
struct Target {
  std::string name;
  PixelRect rect;
};

// Totals over one timed window.
struct Window {
  double seconds = 0;
  std::uint64_t frames = 0;
  std::map<std::string, std::uint64_t> threadNs;  // this process, by thread
  std::uint64_t serverNs = 0;
};

// Parses "X,Y,W,H" into `rect`; false when it is not four integers.
bool parseRect(const std::string& text, PixelRect* rect) {
  long long x = 0, y = 0, w = 0, h = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%lld,%lld,%lld,%lld%c", &x, &y, &w, &h, &tail) != 4) return false;
  *rect = {x, y, w, h};
  return w > 0 && h > 0;
}

// The target a STREAM argument names on a display of `display` pixels, or nothing.
std::optional<Target> parseTarget(const std::string& text, const PixelSize& display) {
  const std::size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return std::nullopt;
  Target target{text.substr(0, eq), {}};
  const std::string what = text.substr(eq + 1);
  const std::string regionPrefix = "region:";
  if (what == "full") {
    target.rect = {0, 0, display.w, display.h};
  } else if (what.rfind(regionPrefix, 0) == 0) {
    PixelRect crop;
    if (!parseRect(what.substr(regionPrefix.size()), &crop)) return std::nullopt;
    target.rect = regionAround({crop.x, crop.y, crop.x + crop.w, crop.y + crop.h}, display);
  } else if (!parseRect(what, &target.rect)) {
    return std::nullopt;
  }
  const PixelRect& r = target.rect;
  if (r.x < 0 || r.y < 0 || r.x + r.w > display.w || r.y + r.h > display.h) return std::nullopt;
  return target;
}

// Reads the options; exits with a usage line when they do not parse.
Options parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--server-pid" && hasValue) {
      options.serverPid = static_cast<pid_t>(std::atol(argv[++i]));
    } else if (arg == "--windows" && hasValue) {
      options.windows = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--window-seconds" && hasValue) {
      options.windowSeconds = std::max(0.05, std::atof(argv[++i]));
    } else if (arg.rfind("--", 0) == 0) {
      options.streams.clear();
      break;
    } else {
      options.streams.push_back(arg);
    }
  }
  if (options.streams.empty()) {
    std::fprintf(stderr,
                 "usage: %s [--server-pid PID] [--windows N] [--window-seconds S] "
                 "NAME=full|NAME=X,Y,W,H|NAME=region:X,Y,W,H ...\n",
                 argv[0]);
    std::exit(2);
  }
  return options;
}

// Sum of the CPU nanoseconds of every thread of `pid`.
std::uint64_t processNs(pid_t pid) {
  std::uint64_t total = 0;
  for (const auto& [tid, thread] : threadCpu(pid)) total += thread.ns;
  return total;
}

// Times one window of `seconds` on a running stream; the main thread.
Window timeWindow(const PlatformStream& stream, double seconds, pid_t serverPid) {
  const std::map<pid_t, ThreadCpu> threadsBefore = threadCpu(getpid());
  const std::uint64_t serverBefore = serverPid > 0 ? processNs(serverPid) : 0;
  const std::uint64_t framesBefore = stream.counter().frames();
  const Clock::time_point start = Clock::now();
  // The window is the measurement itself: frames are counted across it.
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  Window window;
  window.frames = stream.counter().frames() - framesBefore;
  window.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  window.threadNs = cpuSince(threadsBefore, threadCpu(getpid()));
  window.serverNs = serverPid > 0 ? processNs(serverPid) - serverBefore : 0;
  return window;
}

// The JSON text of `s` (names of threads and targets: no quotes or controls expected).
std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) >= 0x20) out += c;
  }
  return out + "\"";
}

// Prints the target's figures as one JSON line: the median window's time per
// frame, and CPU time per frame over all windows.
void report(const Target& target, const std::vector<Window>& windows) {
  std::vector<double> perFrame;
  std::uint64_t frames = 0;
  std::uint64_t serverNs = 0;
  std::map<std::string, std::uint64_t> threadNs;
  for (const Window& w : windows) {
    perFrame.push_back(w.frames > 0 ? w.seconds * 1e9 / static_cast<double>(w.frames) : 0.0);
    frames += w.frames;
    serverNs += w.serverNs;
    for (const auto& [name, ns] : w.threadNs) threadNs[name] += ns;
  }
  std::vector<double> sorted = perFrame;
  std::sort(sorted.begin(), sorted.end());
  const double median = sorted[sorted.size() / 2];
  const double n = static_cast<double>(std::max<std::uint64_t>(frames, 1));
  std::uint64_t processTotal = 0;
  std::string threads = "{";
  for (const auto& [name, ns] : threadNs) {
    processTotal += ns;
    if (threads.size() > 1) threads += ", ";
    threads += quoted(name) + ": " + std::to_string(static_cast<double>(ns) / n);
  }
  threads += "}";
  std::string windowText = "[";
  for (const double v : perFrame) windowText += (windowText.size() > 1 ? ", " : "") + std::to_string(v);
  windowText += "]";
  const PixelRect& r = target.rect;
  std::printf(
      "{\"name\": %s, \"x\": %lld, \"y\": %lld, \"w\": %lld, \"h\": %lld, \"frames\": %llu, "
      "\"ns_per_frame\": %.1f, \"fps\": %.1f, \"windows_ns_per_frame\": %s, "
      "\"process_cpu_ns_per_frame\": %.1f, \"server_cpu_ns_per_frame\": %.1f, "
      "\"thread_cpu_ns_per_frame\": %s}\n",
      quoted(target.name).c_str(), static_cast<long long>(r.x), static_cast<long long>(r.y),
      static_cast<long long>(r.w), static_cast<long long>(r.h),
      static_cast<unsigned long long>(frames), median, median > 0 ? 1e9 / median : 0.0,
      windowText.c_str(), static_cast<double>(processTotal) / n, static_cast<double>(serverNs) / n,
      threads.c_str());
  std::fflush(stdout);
}

// Runs a stream of the target and reports it; false when it fails. The main thread.
bool measure(const platform::Display& display, const Target& target, const Options& options) {
  const PixelRect& r = target.rect;
  const PlatformStream stream(display, r.x, r.y, static_cast<std::size_t>(r.w),
                              static_cast<std::size_t>(r.h));
  if (!stream.ok()) {
    std::fprintf(stderr, "%s: %s\n", target.name.c_str(), stream.error().c_str());
    return false;
  }
  if (!stream.waitFrames(kWarmUpFrames, 30.0)) {
    const std::string problem = stream.counter().problem();
    std::fprintf(stderr, "%s: %s\n", target.name.c_str(),
                 problem.empty() ? "fewer than 30 frames in 30 s" : problem.c_str());
    return false;
  }
  std::vector<Window> windows;
  for (int i = 0; i < options.windows; ++i) {
    windows.push_back(timeWindow(stream, options.windowSeconds, options.serverPid));
  }
  const std::string problem = stream.counter().problem();
  if (!problem.empty()) {
    std::fprintf(stderr, "%s: %s\n", target.name.c_str(), problem.c_str());
    return false;
  }
  report(target, windows);
  return true;
}

// Finds the display, then measures every target in order; the main thread.
int run(int argc, char** argv) {
  const Options options = parseOptions(argc, argv);
  std::string error;
  const platform::DisplayRef display = mainDisplay(&error);
  if (!display) {
    std::fprintf(stderr, "no display: %s\n", error.c_str());
    return 1;
  }
  const platform::DisplayId id = platform::displayId(*display);
  const PixelSize size{static_cast<std::int64_t>(platform::displayPixelsWide(id)),
                       static_cast<std::int64_t>(platform::displayPixelsHigh(id))};
  std::vector<Target> targets;
  for (const std::string& text : options.streams) {
    const std::optional<Target> target = parseTarget(text, size);
    if (!target) {
      std::fprintf(stderr, "bad or off-display target '%s' (display %lldx%lld)\n", text.c_str(),
                   static_cast<long long>(size.w), static_cast<long long>(size.h));
      return 2;
    }
    targets.push_back(*target);
  }
  for (const Target& target : targets) {
    if (!measure(*display, target, options)) return 1;
  }
  return 0;
}

}  // namespace
}  // namespace zorsck::xbench

// See the top of the file; the main thread.
int main(int argc, char** argv) { return zorsck::xbench::run(argc, argv); }
