#include "platform/InstanceChannel.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "tests/platform/TempFolder.h"

namespace {

TEST(InstanceChannel, RequestReachesTheRunningInstanceAndIsAcknowledged) {
  orb::testing::TempFolder d;
  std::string path = d / "orbalon.sock";
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

TEST(InstanceChannel, DeliveryNamesTheListenerBeforeTheRequestArrives) {
  orb::testing::TempFolder d;
  const std::string path = d / "orbalon.sock";
  EXPECT_EQ(orb::DeliverInstanceRequest(path, "batch /x.bch", 500, nullptr), orb::RequestResult::NoListener);

  std::mutex m;
  std::vector<std::string> got;
  orb::InstanceServer server;
  std::string err;
  ASSERT_TRUE(server.Start(path, [&](const std::string& r) { std::lock_guard l(m); got.push_back(r); }, &err)) << err;
  pid_t listener = 0;
  size_t seenBefore = 99;
  EXPECT_EQ(orb::DeliverInstanceRequest(path, "batch /jobs/night run.bch", 5000,
                                        [&](pid_t p) {
                                          listener = p;
                                          std::lock_guard l(m);
                                          seenBefore = got.size();
                                        }),
            orb::RequestResult::Acknowledged);
  server.Stop();
  EXPECT_EQ(listener, ::getpid());  // the server runs in this process
  EXPECT_EQ(seenBefore, 0u);
  EXPECT_EQ(got, (std::vector<std::string>{"batch /jobs/night run.bch"}));
}

TEST(InstanceChannel, AListenerThatNeverAnswersIsNotTakenForAcknowledgement) {
  orb::testing::TempFolder d;
  const std::string path = d / "mute.sock";
  // A socket that listens but never accepts: the connection stands, no answer comes.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  EXPECT_EQ(orb::DeliverInstanceRequest(path, "batch /x.bch", 200, nullptr), orb::RequestResult::NotAcknowledged);
  ::close(fd);
}

TEST(InstanceChannel, AStaleSocketIsReplacedAndBadPathsRefused) {
  orb::testing::TempFolder d;
  std::string path = d / "stale.sock";
  std::ofstream(path) << "left behind by a crash";
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
  const char* was = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = was ? was : "";
  orb::testing::TempFolder runtime;
  ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  EXPECT_EQ(orb::InstanceSocketPath("orbalon-test"), runtime / "orbalon-test.sock");
  // Without one, a folder of this user's own, closed to others; removed again here.
  ::unsetenv("XDG_RUNTIME_DIR");
  const std::string p = orb::InstanceSocketPath("orbalon-test");
  const std::string folder = p.substr(0, p.rfind('/'));
  EXPECT_TRUE(p.ends_with("/orbalon-test.sock")) << p;
  struct stat st {};
  EXPECT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
  ::rmdir(folder.c_str());
  if (was) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
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
