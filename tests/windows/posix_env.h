// setenv and unsetenv for the portable tests on Windows, over _putenv_s,
// which getenv reads back.
#pragma once

#include <stdlib.h>

// Sets `name` to `value` (always replacing it); test thread.
inline int setenv(const char* name, const char* value, int /*overwrite*/) { return _putenv_s(name, value); }
// Removes `name` from the environment; test thread.
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
