// The restore token file among hostile files: links, a FIFO, folders that are
// not the user's own or that others can write. Nothing outside the folder is
// read or written.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "platform/wayland/wl_token.h"

namespace zorsck {
namespace {

namespace fs = std::filesystem;

// The whole content of `path`, or "" when there is none.
std::string contentOf(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

TEST(RestoreToken, HostileFilesAreNeitherFollowedNorWaitedForAndOnlyAFolderNobodyElseCanWriteIsUsed) {
  struct Case {
    const char* what;
    std::function<void(const fs::path& folder, const fs::path& victim)> plant;
    const char* read;  // the token loaded first
    bool complains;    // loading says why the file or folder was not used
    bool saved;        // a new token is written
    const char* kept;  // what the token file holds afterwards
  };
  const auto privateFolder = [](const fs::path& folder) {
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
  };
  // A folder of `mode` holding a token, as another tool might have left it.
  const auto folderOfMode = [&](const fs::path& folder, ::mode_t mode) {
    privateFolder(folder);
    std::ofstream(folder / "restore-token") << "old-token\n";
    ASSERT_EQ(::chmod(folder.c_str(), mode), 0);
  };
  const std::string tempName = "restore-token.tmp." + std::to_string(::getpid());
  const Case cases[] = {
      {"a link at the temporary file", [&](const fs::path& f, const fs::path& v) {
         privateFolder(f);
         fs::create_symlink(v, f / tempName);
       }, "", false, true, "new-token\n"},
      {"a link at the token", [&](const fs::path& f, const fs::path& v) {
         privateFolder(f);
         fs::create_symlink(v, f / "restore-token");
       }, "", true, true, "new-token\n"},
      {"a FIFO at the token", [&](const fs::path& f, const fs::path&) {
         privateFolder(f);
         ASSERT_EQ(::mkfifo((f / "restore-token").c_str(), 0600), 0);
       }, "", true, true, "new-token\n"},
      // Made under the usual umask (0755) by the user or another tool: nobody else can write in it.
      {"a folder others can read", [&](const fs::path& f, const fs::path&) { folderOfMode(f, 0755); },
       "old-token", false, true, "new-token\n"},
      {"a folder others can write", [&](const fs::path& f, const fs::path&) { folderOfMode(f, 0757); },
       "", true, false, "old-token\n"},
      {"a folder its group can write", [&](const fs::path& f, const fs::path&) { folderOfMode(f, 0775); },
       "", true, false, "old-token\n"},
      {"a folder that is a link", [&](const fs::path& f, const fs::path& v) {
         privateFolder(v.parent_path() / "elsewhere");
         std::ofstream(v.parent_path() / "elsewhere" / "restore-token") << "old-token\n";
         fs::create_symlink(v.parent_path() / "elsewhere", f);
       }, "", true, false, "old-token\n"},
      {"a folder of another user", [&](const fs::path& f, const fs::path&) {
         privateFolder(f);
         std::ofstream(f / "restore-token") << "old-token\n";
         ASSERT_EQ(::chown(f.c_str(), 65534, 65534), 0);
       }, "", true, false, "old-token\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (std::string(c.what) == "a folder of another user" && ::geteuid() != 0) continue;  // only root can give it away
    char top[] = "/tmp/zorsck-token-XXXXXX";
    ASSERT_NE(::mkdtemp(top), nullptr);
    const fs::path folder = fs::path(top) / "zorsck", victim = fs::path(top) / "victim";
    std::ofstream(victim) << "victim-token\n";
    c.plant(folder, victim);
    const std::string path = (folder / "restore-token").string();

    std::string problem;
    EXPECT_EQ(wayland::loadRestoreToken(path, &problem), c.read);  // a FIFO would block here
    EXPECT_EQ(problem != "", c.complains) << problem;
    EXPECT_EQ(wayland::saveRestoreToken(path, "new-token"), c.saved);
    EXPECT_EQ(contentOf(victim), "victim-token\n") << "written through a link";
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
    EXPECT_EQ(contentOf(path), c.kept);
    if (c.saved) {
      EXPECT_EQ(wayland::loadRestoreToken(path), "new-token");
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder / tempName))) << "a temporary file left behind";
    EXPECT_EQ(std::system(("rm -rf " + std::string(top)).c_str()), 0);
  }
}

}  // namespace
}  // namespace zorsck
