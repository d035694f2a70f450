// Paints the benchmark pattern over the root window of $DISPLAY, checks a few
// pixels of it, prints "painted" and stays connected until its standard input
// closes: an X server resets, and clears the screen, when its last client leaves.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "test_pattern.h"
#include "x11_handles.h"

// Connects, paints, reads back, then holds the connection; the main thread.
int main() {
  const zorsck::xbench::XConnection conn;
  if (!conn.ok()) {
    std::fprintf(stderr, "paint: cannot connect to the X server\n");
    return 1;
  }
  std::string error;
  if (!zorsck::xbench::paintPattern(conn, &error)) {
    std::fprintf(stderr, "paint: %s\n", error.c_str());
    return 1;
  }
  std::printf("painted\n");
  std::fflush(stdout);
  char buf[256];
  while (read(STDIN_FILENO, buf, sizeof buf) > 0) {
  }
  return 0;
}
