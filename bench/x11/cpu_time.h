// What the X11 benchmarks measure with: CPU time of a process's threads from
// /proc, and waiting for a platform completion.
#pragma once

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace zorsck::xbench {

// CPU nanoseconds of each thread of process `pid` by thread name, from /proc; any thread.
inline std::map<std::string, double> threadCpu(pid_t pid) {
  std::map<std::string, double> ns;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream comm(task.path() / "comm"), schedstat(task.path() / "schedstat");
    std::string name;
    double onCpu = 0;
    if (std::getline(comm, name) && schedstat >> onCpu) ns[name] += onCpu;
  }
  return ns;
}

// Sum of a map's values; any thread.
inline double total(const std::map<std::string, double>& ns) {
  double sum = 0;
  for (const auto& [name, value] : ns) sum += value;
  return sum;
}

// CPU nanoseconds of `now` less `before` for the threads named `name`; any thread.
inline double since(const std::map<std::string, double>& before, std::map<std::string, double> now, const std::string& name) {
  const auto was = before.find(name);
  return now[name] - (was != before.end() ? was->second : 0);
}

// The completion's error text, once it has run (10 s at most); benchmark thread.
inline std::string await(const std::function<void(platform::Completion)>& call) {
  auto done = std::make_shared<std::promise<std::string>>();
  call([done](const platform::Error* e) { done->set_value(e != nullptr ? e->description : ""); });
  auto answer = done->get_future();
  return answer.wait_for(std::chrono::seconds(10)) == std::future_status::ready ? answer.get() : "no answer in 10 s";
}

}  // namespace zorsck::xbench
