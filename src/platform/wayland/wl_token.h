// The portal's restore token, kept under the user's state directory so that
// the user is asked only once.
#pragma once

#include <string>

namespace zorsck::wayland {

// $XDG_STATE_HOME/zorsck/restore-token, or ~/.local/state/zorsck/restore-token;
// "" when neither XDG_STATE_HOME nor HOME is set; any thread.
std::string restoreTokenPath();

// The saved token, or "" when none is saved; any thread.
std::string loadRestoreToken(const std::string& path);

// Saves `token` in place of the old one (tokens are single-use), or removes the
// file when `token` is empty; false when it could not be written; any thread.
bool saveRestoreToken(const std::string& path, const std::string& token);

}  // namespace zorsck::wayland
