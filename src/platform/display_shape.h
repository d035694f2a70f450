// What a capture stream's frames depend on in its display: the mode's size in
// points and in pixels, the rotation, and the display it mirrors. A stream
// keeps its source rectangle and frame size through a change of any of them
// and would then deliver pixels of other places; where the display sits among
// the others does not matter to it. Backends read shapes; the comparison is
// plain code, so every build tests it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zorsck::platform {

// One reading of a display.
struct DisplayShape {
  bool present = false;  // false: no mode could be read (the display went away)
  std::size_t width = 0, height = 0;            // mode size in points
  std::size_t pixelWidth = 0, pixelHeight = 0;  // mode size in pixels
  double rotation = 0.0;                        // degrees
  std::uint32_t mirrorOf = 0;                   // the display it shows a copy of; 0: none
};

// Why frames made when the display read `then` no longer fall where they did
// now that it reads `now`, or nothing while they still do (or when nothing was
// read then); any thread.
inline std::optional<std::string> shapeChange(const DisplayShape& then, const DisplayShape& now) {
  if (!then.present) return std::nullopt;
  if (!now.present) return "it went away";
  if (now.mirrorOf != then.mirrorOf) {
    return now.mirrorOf != 0 ? "it now mirrors display " + std::to_string(now.mirrorOf)
                             : std::string("it no longer mirrors another display");
  }
  if (now.rotation != then.rotation) {
    return "it was rotated to " + std::to_string(static_cast<int>(now.rotation)) + " degrees";
  }
  if (now.width == then.width && now.height == then.height && now.pixelWidth == then.pixelWidth &&
      now.pixelHeight == then.pixelHeight) {
    return std::nullopt;
  }
  const auto mode = [](const DisplayShape& s) {
    return std::to_string(s.width) + "x" + std::to_string(s.height) + " pt (" +
           std::to_string(s.pixelWidth) + "x" + std::to_string(s.pixelHeight) + " px)";
  };
  return "its mode changed from " + mode(then) + " to " + mode(now);
}

}  // namespace zorsck::platform
