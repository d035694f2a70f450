// The portal's restore token, kept under the user's state directory so that
// the user is asked only once. The file (mode 0600) lives in a directory of
// its own that must be the user's and writable by nobody else; nothing in it
// is followed through a link, and only a regular file is read.
#pragma once

#include <string>

namespace zorsck::wayland {

// $XDG_STATE_HOME/zorsck/restore-token, or ~/.local/state/zorsck/restore-token;
// "" when neither XDG_STATE_HOME nor HOME is set; any thread.
std::string restoreTokenPath();

// The saved token, or "" when none is saved; `problem` (when given) says why
// a file or directory that is there was not used; any thread.
std::string loadRestoreToken(const std::string& path, std::string* problem = nullptr);

// Saves `token` in place of the old one (tokens are single-use), or removes the
// file when `token` is empty; false when it could not be written, with
// `problem` (when given) saying why; any thread.
bool saveRestoreToken(const std::string& path, const std::string& token, std::string* problem = nullptr);

}  // namespace zorsck::wayland
