#include "app/InstanceChannel.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/Event.h"
#include "tests/common/TestUtil.h"

namespace {

TEST(InstanceChannel, RequestReachesTheRunningInstanceAndIsAcknowledged) {
  orbtest::TempDir d;
  std::string path = (d.path() / "orbalon.sock").string();
  std::mutex m;
  std::vector<std::string> got;
  orb::InstanceServer server;
  std::string err;
  ASSERT_TRUE(server.Start(path, [&](const std::string& r) { std::lock_guard l(m); got.push_back(r); }, &err)) << err;
  EXPECT_TRUE(orb::SendInstanceRequest(path, "raise", 5000));
  EXPECT_TRUE(orb::SendInstanceRequest(path, "raise", 5000));
  server.Stop();
  EXPECT_EQ(got, (std::vector<std::string>{"raise", "raise"}));
  // Nobody listens any more: the request fails at once.
  EXPECT_FALSE(orb::SendInstanceRequest(path, "raise", 5000));
}

TEST(InstanceChannel, AStaleSocketIsReplacedAndBadPathsRefused) {
  orbtest::TempDir d;
  std::string path = (d.path() / "stale.sock").string();
  orbtest::WriteFile(path, "left behind by a crash");
  orb::InstanceServer server;
  std::string err;
  ASSERT_TRUE(server.Start(path, nullptr, &err)) << err;
  EXPECT_TRUE(orb::SendInstanceRequest(path, "raise", 5000));
  server.Stop();

  orb::InstanceServer tooLong;
  EXPECT_FALSE(tooLong.Start("/tmp/" + std::string(200, 'x'), nullptr, &err));
  EXPECT_FALSE(orb::SendInstanceRequest("", "raise", 100));
}

TEST(InstanceChannel, SocketPathIsInThePrivateRuntimeFolder) {
  std::string p = orb::InstanceSocketPath("orbalon-test");
  EXPECT_NE(p.find("orbalon-test"), std::string::npos);
  EXPECT_EQ(p.substr(p.size() - 5), ".sock");
}

}  // namespace

namespace {

TEST(InstanceChannel, WithoutARuntimeFolderThePathIsInAPrivateFolder) {
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  std::string saved = old ? old : "";
  ::unsetenv("XDG_RUNTIME_DIR");
  std::string name = "orbtest" + std::to_string(::getpid());
  std::string p = orb::InstanceSocketPath(name);
  if (old) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  std::filesystem::path dir = std::filesystem::path(p).parent_path();
  struct stat st {};
  ASSERT_EQ(::lstat(dir.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_uid, ::getuid());
  EXPECT_EQ(st.st_mode & 077, 0u);
  std::filesystem::remove_all(dir);
}

}  // namespace
