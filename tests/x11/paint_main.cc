// zorsck-x11-paint [GENERATION]: paints the test pattern of GENERATION
// (default 1) over screen 0 of $DISPLAY and exits once the server has drawn it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/screen_drawer.h"

// Parses the arguments, paints and reports failures; main thread.
int main(int argc, char** argv) {
  if (argc > 2) {
    std::fprintf(stderr, "usage: %s [GENERATION]\n", argv[0]);
    return 2;
  }
  int generation = 1;
  if (argc == 2) {
    char* end = nullptr;
    const long value = std::strtol(argv[1], &end, 10);
    if (end == argv[1] || *end != '\0' || value < 0 || value > 1000000) {
      std::fprintf(stderr, "%s: GENERATION must be a number from 0 to 1000000\n", argv[0]);
      return 2;
    }
    generation = static_cast<int>(value);
  }
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    std::fprintf(stderr, "%s: DISPLAY is not set\n", argv[0]);
    return 1;
  }
  zorsck::test::ScreenDrawer drawer(display, 0);
  if (!drawer.ok()) {
    std::fprintf(stderr, "%s: %s\n", argv[0], drawer.failure().c_str());
    return 1;
  }
  drawer.paint(generation);
  if (!drawer.sync()) {
    std::fprintf(stderr, "%s: the connection to %s broke while painting\n", argv[0], display);
    return 1;
  }
  return 0;
}
