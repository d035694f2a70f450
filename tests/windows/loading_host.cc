// A host as a GUI program would be: no standard error handle, the library
// loaded with LoadLibrary, 1,000 start/stop cycles with handles and threads
// flat, then FreeLibrary while a stream runs and the process carries on. The exit status names the first
// check that failed (0: none).
#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <vector>

namespace {

using Crop = std::int32_t (*)(std::uint32_t, std::int32_t, std::int32_t, std::uint32_t, std::uint32_t,
                              std::uint8_t*, std::uint64_t*, std::uint64_t*);
using Stop = void (*)();

// Crops 16x16 at the origin until a frame comes, for at most 10 s; true when
// one came with alpha 255 throughout.
bool cropOnce(Crop crop, std::vector<std::uint8_t>& out) {
  for (int i = 0; i < 1000; ++i) {
    std::uint64_t ts = 0, seq = 0;
    const std::int32_t code = crop(0, 0, 0, 16, 16, out.data(), &ts, &seq);
    if (code == 0) {
      for (std::size_t p = 3; p < out.size(); p += 4) {
        if (out[p] != 255) return false;
      }
      return true;
    }
    if (code != 1) return false;
    ::Sleep(10);
  }
  return false;
}

// The threads of this process; test thread.
int threadCount() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int n = 0;
  for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
    n += entry.th32OwnerProcessID == ::GetCurrentProcessId() ? 1 : 0;
  }
  ::CloseHandle(snapshot);
  return n;
}

}  // namespace

int main() {
  ::SetStdHandle(STD_ERROR_HANDLE, nullptr);  // as a program without a console has
  const HMODULE library = ::LoadLibraryW(L"zorsck.dll");
  if (library == nullptr) return 10;
  const auto crop = reinterpret_cast<Crop>(reinterpret_cast<void*>(::GetProcAddress(library, "zor_sck_crop")));
  const auto stop = reinterpret_cast<Stop>(reinterpret_cast<void*>(::GetProcAddress(library, "zor_sck_stop")));
  if (crop == nullptr || stop == nullptr) return 11;
  std::vector<std::uint8_t> out(16 * 16 * 4);
  if (!cropOnce(crop, out)) return 12;
  DWORD handlesBefore = 0, handlesAfter = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &handlesBefore);
  const int threadsBefore = threadCount();
  for (int cycle = 0; cycle < 1000; ++cycle) {
    stop();
    if (!cropOnce(crop, out)) return 13;
  }
  ::GetProcessHandleCount(::GetCurrentProcess(), &handlesAfter);
  // A capture thread that is ending may still hold a few.
  if (handlesAfter > handlesBefore + 10) return 14;
  if (threadCount() > threadsBefore + 2) return 16;
  // The stream runs on while its library is let go of; its threads keep the code mapped.
  if (!::FreeLibrary(library)) return 15;
  ::Sleep(300);
  if (::GetModuleHandleW(L"zorsck.dll") == nullptr) return 17;
  // Wine kills a process that exits while one of its threads is inside an X
  // call; Windows ends the threads. The stream is stopped first, through the
  // pinned library.
  stop();
  ::Sleep(200);
  return 0;
}
