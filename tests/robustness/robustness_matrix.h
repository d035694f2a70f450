// The robustness matrix: one table of scenarios that every real backend runs
// against servers of its own, through the five functions of its library.
//
// A backend joins with one file that implements Rig and defines makeRig(),
// linked with robustness_matrix.cc into an executable of its own (see
// CMakeLists.txt): each scenario then runs as a process of its own, with the
// rig's servers started afresh. What a backend cannot have (X11 reads no
// state files and listens to no bus; Windows has no server process either) it
// says by leaving the list empty: the scenario is then reported skipped as not
// applicable, never passed.
//
// Every answer a scenario reads is checked against pixels: a rig paints its
// display with a numbered picture (a "generation") that differs at every
// place and between generations, and says whether crop pixels show it. The
// scenarios crop the main display (0), at (16, 16, 64, 48) on every size and
// near the far corner of the larger size.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/crop_calls.h"

namespace zorsck::matrix {

struct Size {
  int width = 0, height = 0;
};

using test::Rect;

// A process the library depends on, which the matrix stops (SIGSTOP/SIGCONT)
// and kills; the rig starts it again.
struct Dependency {
  std::string name;  // "X server", "compositor", "portal", "PipeWire", "session bus"
  int pid = -1;      // as it runs now
};

// A file or directory of state that the library reads or writes.
struct StatePath {
  std::string path;
  bool directory = false;
};

// A message that another client of the library's bus sends to pose as one of
// its peers; "" once sent, else why it could not be.
struct Forgery {
  std::string name;
  std::function<std::string()> send;
};

// What a backend provides to the matrix. Every member is called on the test thread.
class Rig {
 public:
  virtual ~Rig() = default;
  // The backend's name as docs/reliability.md's table shows it ("X11").
  virtual std::string name() const = 0;
  // Starts the servers, with the display at sizes().front() (or its only
  // size) painted with generation 1, and points the library at them through
  // the environment; "" or why not, or "skip: <why>" when this machine cannot
  // run the rig and nothing asks for it. Before the library's first call.
  virtual std::string start() = 0;
  // The processes the library talks to, as they run now.
  virtual std::vector<Dependency> dependencies() const = 0;
  // Kills dependency `name` at once (SIGKILL, as a crash goes) and starts it
  // again where the library looks for it, leaving the display showing
  // `generation` at a size that may differ from before; "" or why not.
  virtual std::string restart(const std::string& name, int generation) = 0;
  // The display sizes the rig can switch between, the first two differing;
  // fewer than two: the display's geometry cannot change.
  virtual std::vector<Size> sizes() const = 0;
  // Gives the display `size` (a mode change) and paints it with
  // `generation`; "" or why not.
  virtual std::string resize(const Size& size, int generation) = 0;
  // Paints the whole display with `generation`; "" or why not.
  virtual std::string paint(int generation) = 0;
  // "" when the BGRA rows in `pixels` (r.w * 4 bytes apart) show the picture
  // of `generation` at `r` with opaque alpha, else the first difference.
  virtual std::string compare(const std::vector<std::uint8_t>& pixels, const Rect& r, int generation) const = 0;
  // Every file and directory of state the library reads or writes; empty when none.
  virtual std::vector<StatePath> statePaths() const = 0;
  // Forged messages of each kind the library listens to; empty when it listens to no bus.
  virtual std::vector<Forgery> forgeries() = 0;
  // Why the backend is known to fail `scenario` (a row's name), not mended
  // yet; "" when it is expected to hold. The case is then reported skipped
  // with that reason, never passed. Before start().
  virtual std::string knownFault(const std::string& /*scenario*/) const { return ""; }
  // How long after a stop the next start links the display's stream anew,
  // and how many such links the Relinks row makes; zero when every start is
  // a new stream anyway and the row does not apply.
  virtual std::pair<std::chrono::milliseconds, int> relinks() const { return {}; }
  // How often the producer of frames has said so far that it had no free
  // buffer to fill, or -1 when it does not tell.
  virtual int producerOutOfBuffers() const { return -1; }
  // The most library threads while a crop loop runs and after the idle
  // stop; {0, 0} states none and the Threads case is skipped.
  virtual std::pair<int, int> threadBudget() const { return {0, 0}; }
};

// The rig of the backend this executable tests.
std::unique_ptr<Rig> makeRig();

}  // namespace zorsck::matrix
