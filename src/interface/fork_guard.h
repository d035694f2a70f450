// A forked child of a process that used the library has none of its threads:
// no frame would ever arrive, no start or stop would complete. Every call but
// zor_sck_seq refuses there, with one line saying why.
#pragma once

#include <cstdint>

namespace zorsck {

// True when the call may go on; false in a forked child of a process that had
// used the library, after writing the line once. Marks the library as used in
// this process. Host thread, at the entry of every exported function but zor_sck_seq.
bool callAllowed();

}  // namespace zorsck
