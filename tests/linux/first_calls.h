// The first calls of a host that links only libzorsck (first_calls_host.c),
// run where some of the desktop's libraries cannot be loaded: a directory on
// LD_LIBRARY_PATH holds, under each one's name, a file that is no library or
// another library (without its functions, as another version might be). The
// dynamic loader takes the first file of the name it finds, so the real one
// stays hidden.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zorsck::test {

struct FirstCalls {
  std::string answers;               // the racing first crops' answers, " / ", the last crop's
  std::vector<std::uint8_t> pixels;  // the last crop's BGRA rows (zeros when it did not say)
  std::string log;                   // the host's standard error
  int status = -1;                   // the host's exit status (pclose's): 0 when it ran clean
};

// Runs the host with `environment` (env(1)'s "-u NAME" and "NAME=value") and
// `soname` shadowed, by another library when `asOther`, on w x h at x, y; test thread.
inline FirstCalls firstCalls(const std::string& soname, bool asOther, const std::string& environment, int x, int y,
                             int w, int h) {
  char name[] = "/tmp/zorsck-shadow-XXXXXX";
  const std::string dir = ::mkdtemp(name);
  if (asOther) std::filesystem::create_symlink(ZORSCK_OTHER_LIBRARY, dir + "/" + soname);
  if (!asOther) std::ofstream(dir + "/" + soname) << "not a library\n";
  std::ostringstream command;
  command << "timeout -s KILL 60 env " << environment << " LD_LIBRARY_PATH=" << dir << " " << ZORSCK_FIRST_CALLS_HOST
          << " " << x << " " << y << " " << w << " " << h << " 2>" << dir << "/log";
  FirstCalls calls{"", std::vector<std::uint8_t>(std::size_t(w) * h * 4), "", -1};
  FILE* out = ::popen(command.str().c_str(), "r");
  for (int c; (c = std::fgetc(out)) != EOF && c != '\n';) calls.answers += static_cast<char>(c);
  [[maybe_unused]] const std::size_t read = std::fread(calls.pixels.data(), 1, calls.pixels.size(), out);
  calls.status = ::pclose(out);
  calls.log = (std::ostringstream() << std::ifstream(dir + "/log").rdbuf()).str();
  std::filesystem::remove_all(dir);
  return calls;
}

// How many times `text` is in `log`; any thread.
inline int timesIn(const std::string& log, const std::string& text) {
  int n = 0;
  for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
  return n;
}

}  // namespace zorsck::test
