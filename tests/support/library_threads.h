// The library's threads as /proc shows them, for tests that bound them.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace zorsck::test {

// Threads named "zorsck" or "zorsck-..." (test programs are "zorsck_..."),
// with their names added to `names`, and in `loopSleeps` how often the loop
// thread "zorsck" went to sleep; test thread.
inline int libraryThreads(long* loopSleeps = nullptr, std::vector<std::string>* names = nullptr) {
  int n = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string name, line;
    std::getline(std::ifstream(task.path() / "comm"), name);
    const bool library = name == "zorsck" || name.rfind("zorsck-", 0) == 0;
    n += library;
    if (library && names) names->push_back(name);
    for (std::ifstream status(task.path() / "status"); loopSleeps && name == "zorsck" && std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) *loopSleeps = std::stol(line.substr(24));
    }
  }
  return n;
}

}  // namespace zorsck::test
