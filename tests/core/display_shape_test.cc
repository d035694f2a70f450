// When a stream's display has changed under it: what ends the stream, what does
// not, and the words the line uses.
#include <gtest/gtest.h>

#include "platform/display_shape.h"

namespace zorsck {
namespace {

using platform::DisplayShape;

// A 1440x900 pt display at 2 px per point.
constexpr DisplayShape kRetina{true, 1440, 900, 2880, 1800, 0.0, 0};

struct ShapeCase {
  const char* name;
  DisplayShape then, now;
  const char* why;  // nullptr: the stream still maps
};

TEST(DisplayShape, ChangesThatMoveFramesOffTheDisplay) {
  const ShapeCase cases[] = {
      {"unchanged", kRetina, kRetina, nullptr},
      {"more space, same scale", kRetina, {true, 1680, 1050, 3360, 2100, 0.0, 0},
       "its mode changed from 1440x900 pt (2880x1800 px) to 1680x1050 pt (3360x2100 px)"},
      {"same points, scale 1", kRetina, {true, 1440, 900, 1440, 900, 0.0, 0},
       "its mode changed from 1440x900 pt (2880x1800 px) to 1440x900 pt (1440x900 px)"},
      {"same pixels, more points", kRetina, {true, 2880, 1800, 2880, 1800, 0.0, 0},
       "its mode changed from 1440x900 pt (2880x1800 px) to 2880x1800 pt (2880x1800 px)"},
      {"taller only", kRetina, {true, 1440, 960, 2880, 1920, 0.0, 0},
       "its mode changed from 1440x900 pt (2880x1800 px) to 1440x960 pt (2880x1920 px)"},
      {"rotated", kRetina, {true, 1440, 900, 2880, 1800, 90.0, 0}, "it was rotated to 90 degrees"},
      {"mirroring", kRetina, {true, 1440, 900, 2880, 1800, 0.0, 7}, "it now mirrors display 7"},
      {"mirroring ended", {true, 1440, 900, 2880, 1800, 0.0, 7}, kRetina,
       "it no longer mirrors another display"},
      {"gone", kRetina, DisplayShape{}, "it went away"},
      {"never read", DisplayShape{}, kRetina, nullptr},
  };
  for (const ShapeCase& c : cases) {
    const std::optional<std::string> why = platform::shapeChange(c.then, c.now);
    EXPECT_EQ(why.value_or("(still maps)"), c.why ? c.why : "(still maps)") << c.name;
  }
}

}  // namespace
}  // namespace zorsck
