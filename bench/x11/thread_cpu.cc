#include "thread_cpu.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <memory>

namespace zorsck::xbench {
namespace {

// Closes a directory stream.
struct DirClose {
  void operator()(DIR* dir) const { closedir(dir); }
};

// The first line of `path`, or "" when it cannot be read.
std::string firstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

std::map<pid_t, ThreadCpu> threadCpu(pid_t pid) {
  std::map<pid_t, ThreadCpu> threads;
  const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
  const std::unique_ptr<DIR, DirClose> dir(opendir(taskDir.c_str()));
  if (!dir) return threads;
  while (const dirent* entry = readdir(dir.get())) {
    const pid_t tid = static_cast<pid_t>(std::atol(entry->d_name));
    if (tid <= 0) continue;
    const std::string base = taskDir + "/" + entry->d_name;
    // schedstat: time on CPU (ns), time waiting to run (ns), timeslices.
    const std::string sched = firstLine(base + "/schedstat");
    if (sched.empty()) continue;  // the thread ended meanwhile
    threads[tid] = ThreadCpu{firstLine(base + "/comm"), std::strtoull(sched.c_str(), nullptr, 10)};
  }
  return threads;
}

std::map<std::string, std::uint64_t> cpuSince(const std::map<pid_t, ThreadCpu>& before,
                                               const std::map<pid_t, ThreadCpu>& now) {
  std::map<std::string, std::uint64_t> byThread;
  for (const auto& [tid, thread] : now) {
    const auto earlier = before.find(tid);
    const std::uint64_t start = earlier != before.end() ? earlier->second.ns : 0;
    byThread[thread.name + " (" + std::to_string(tid) + ")"] = thread.ns >= start ? thread.ns - start : 0;
  }
  return byThread;
}

}  // namespace zorsck::xbench
