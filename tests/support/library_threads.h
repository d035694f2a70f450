// The library's threads as the system shows them, for tests that bound them:
// /proc on Linux, thread descriptions on Windows.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <tlhelp32.h>
#else
#include <filesystem>
#include <fstream>
#endif

#include <memory>
#include <string>
#include <vector>

namespace zorsck::test {

#if defined(_WIN32)
// The descriptions of this process's threads, "" for a thread without one;
// test thread.
inline std::vector<std::wstring> threadDescriptions() {
  // GetThreadDescription came with Windows 10 1607: looked up, as the library's SetThreadDescription is.
  using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  static const auto describe = reinterpret_cast<GetDescription>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
  using Handle = std::unique_ptr<void, decltype(&::CloseHandle)>;
  std::vector<std::wstring> all;
  const Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0), &::CloseHandle);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID != ::GetCurrentProcessId()) continue;
    const Handle thread(::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID), &::CloseHandle);
    PWSTR name = nullptr;
    all.emplace_back(thread && describe && SUCCEEDED(describe(thread.get(), &name)) ? name : L"");
    ::LocalFree(name);
  }
  return all;
}

// Threads described as "zorsck" or "zorsck-..."; Windows counts no sleeps of
// a thread, so `loopSleeps` is left as it is; test thread.
inline int libraryThreads(long* /*loopSleeps*/ = nullptr) {
  int n = 0;
  for (const std::wstring& name : threadDescriptions()) n += name == L"zorsck" || name.starts_with(L"zorsck-") ? 1 : 0;
  return n;
}
#else
// Threads named "zorsck" or "zorsck-..." (test programs are "zorsck_..."),
// with their names added to `names`, and in `loopSleeps` how often the loop
// thread "zorsck" went to sleep; test thread.
inline int libraryThreads(long* loopSleeps = nullptr, std::vector<std::string>* names = nullptr) {
  int n = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string name, line;
    std::getline(std::ifstream(task.path() / "comm"), name);
    const bool library = name == "zorsck" || name.rfind("zorsck-", 0) == 0;
    n += library;
    if (library && names) names->push_back(name);
    for (std::ifstream status(task.path() / "status"); loopSleeps && name == "zorsck" && std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) *loopSleeps = std::stol(line.substr(24));
    }
  }
  return n;
}
#endif

}  // namespace zorsck::test
