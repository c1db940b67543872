#include "base/install.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

namespace velmo {
namespace {

class EnvGuard {
 public:
  EnvGuard() {
    if (const char* v = std::getenv("VELMO_HOME")) saved_ = v;
  }
  ~EnvGuard() {
    if (saved_) setenv("VELMO_HOME", saved_->c_str(), 1); else unsetenv("VELMO_HOME");
  }
 private:
  std::optional<std::string> saved_;
};

TEST(Install, VelmoHomeIsUsedAsItStands) {
  EnvGuard guard;
  setenv("VELMO_HOME", "/opt/velmo", 1);
  EXPECT_EQ(ResolveInstallFolder(), "/opt/velmo");  // no separator added
  SetInstallFolder(ResolveInstallFolder());
  EXPECT_EQ(IniPath(), "/opt/velmoConfig/Velmo.ini");
  setenv("VELMO_HOME", "/opt/velmo/", 1);
  EXPECT_EQ(ResolveInstallFolder(), "/opt/velmo/");
}

TEST(Install, FallbackIsTheExecutablesFolderWithASlash) {
  EnvGuard guard;
  setenv("VELMO_HOME", "", 1);  // empty counts as not set
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  std::string path(exe, static_cast<size_t>(n));
  const std::string folder = ResolveInstallFolder();
  EXPECT_EQ(folder, path.substr(0, path.rfind('/') + 1));
  EXPECT_EQ(folder.back(), '/');
  unsetenv("VELMO_HOME");
  EXPECT_EQ(ResolveInstallFolder("ignored"), folder);
}

}  // namespace
}  // namespace velmo
