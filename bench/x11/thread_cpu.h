// CPU time of processes and their threads as the kernel accounts it
// (/proc/PID/task/TID/schedstat, nanoseconds), to tell where the time of a
// frame goes: in the capturing process, in which of its threads, or in the X server.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>

namespace zorsck::xbench {

// CPU nanoseconds of one thread, with its name.
struct ThreadCpu {
  std::string name;
  std::uint64_t ns = 0;
};

// Every thread of process `pid` by thread id (empty when the process is gone);
// any thread.
std::map<pid_t, ThreadCpu> threadCpu(pid_t pid);

// CPU nanoseconds of `now` less `before` by thread, keyed "name (tid)": threads
// that ended in between are left out, threads that began count from zero. Any thread.
std::map<std::string, std::uint64_t> cpuSince(const std::map<pid_t, ThreadCpu>& before,
                                               const std::map<pid_t, ThreadCpu>& now);

}  // namespace zorsck::xbench
