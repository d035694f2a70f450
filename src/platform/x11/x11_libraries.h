// The X11 backend's libraries: libxcb and its MIT-SHM, RandR and DAMAGE
// libraries, loaded at the backend's first connection.
#pragma once

#include <string>

namespace zorsck::x11 {

// Loads the four libraries at the first call and, when one cannot be loaded,
// says so once on standard error; "" once all are loaded, else why not (the
// same answer for the life of the process); any thread.
const std::string& xcbLoadFailure();

}  // namespace zorsck::x11
