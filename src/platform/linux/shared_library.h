// Libraries of the desktop opened by SONAME when a backend first needs them,
// so that libzorsck itself links only the C and C++ runtimes and loads on a
// machine that has only one backend's libraries, or none.
//
// Each library has one header of its backend that lists the functions (and
// objects) the backend uses, in an X-macro over the names of its development
// headers, and declares in the backend's namespace a pointer of each one's own
// type under its own name: inside the backend a call reads as a plain call,
// is checked against the real prototype and costs one indirect call. The
// backend's loader sets every pointer once, before any thread can read them
// (see ZORSCK_LOAD_LIBRARY); they never change after, and a library that
// loaded is never unloaded. A call from outside the backend's namespace, or
// of a function missing from the list, names the real function instead: the
// link fails (--no-undefined), or the linkage test finds the library needed.
#pragma once

#include <cstddef>
#include <iterator>
#include <string>

// The pointer to one function or object of a library's list, in the backend's
// namespace; null until its library is loaded.
#define ZORSCK_LIBRARY_POINTER(name) inline decltype(&::name) name = nullptr;
// The name of one symbol, for the loader's table.
#define ZORSCK_LIBRARY_NAME(name) #name,
// Sets the pointer of one symbol from the loader's table.
#define ZORSCK_LIBRARY_ASSIGN(name) name = reinterpret_cast<decltype(name)>(addresses[next++]);

// Opens `soname` and sets every pointer of `LIST` (a library header's
// X-macro) in the enclosing namespace; evaluates to "" on success, else why
// not, with no pointer set. Used only in a once-only initialisation, which
// makes the pointers visible to every thread that waits for it.
#define ZORSCK_LOAD_LIBRARY(soname, LIST)                                                                  \
  [] {                                                                                                     \
    static const char* const names[] = {LIST(ZORSCK_LIBRARY_NAME)};                                       \
    void* addresses[std::size(names)] = {};                                                                \
    std::string whyNot = ::zorsck::glue::openLibrary(soname, names, addresses, std::size(names));         \
    if (whyNot.empty()) {                                                                                  \
      std::size_t next = 0;                                                                                \
      LIST(ZORSCK_LIBRARY_ASSIGN)                                                                          \
    }                                                                                                      \
    return whyNot;                                                                                         \
  }()

namespace zorsck::glue {

// Opens `soname` (searched as the dynamic loader searches for a library) and
// finds each of the `count` symbols `names` into `addresses`. "" on success,
// and the library stays loaded for the process; else why not, naming the
// library and what failed (not found, not a library, a symbol it lacks), and
// the library is closed again. Any thread.
std::string openLibrary(const char* soname, const char* const* names, void** addresses, std::size_t count);

}  // namespace zorsck::glue
