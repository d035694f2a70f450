// A host as a GUI program would be: no standard error handle, the library
// loaded with LoadLibrary, a stream started, then FreeLibrary while it runs
// and the process carries on. (Start/stop cycles with handles, threads and
// memory flat, and the pixels, are the robustness matrix's.) The exit status
// names the first check that failed (0: none).
#include <windows.h>

#include <cstdint>
#include <vector>

namespace {

using Crop = std::int32_t (*)(std::uint32_t, std::int32_t, std::int32_t, std::uint32_t, std::uint32_t,
                              std::uint8_t*, std::uint64_t*, std::uint64_t*);
using Stop = void (*)();

// Crops 16x16 at the origin until a frame comes, for at most 10 s; whether
// one came (its pixels are the robustness matrix's to check).
bool cropOnce(Crop crop) {
  std::vector<std::uint8_t> out(16 * 16 * 4);
  std::uint64_t ts = 0, seq = 0;
  for (int i = 0; i < 1000; ++i, ::Sleep(10)) {
    if (const std::int32_t code = crop(0, 0, 0, 16, 16, out.data(), &ts, &seq); code != 1) return code == 0;
  }
  return false;
}

}  // namespace

int main() {
  ::SetStdHandle(STD_ERROR_HANDLE, nullptr);  // as a program without a console has
  const HMODULE library = ::LoadLibraryW(L"zorsck.dll");
  if (library == nullptr) return 10;
  const auto crop = reinterpret_cast<Crop>(reinterpret_cast<void*>(::GetProcAddress(library, "zor_sck_crop")));
  const auto stop = reinterpret_cast<Stop>(reinterpret_cast<void*>(::GetProcAddress(library, "zor_sck_stop")));
  if (crop == nullptr || stop == nullptr) return 11;
  if (!cropOnce(crop)) return 12;
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
