// The scan button of a scanner on the image-acquisition list reaches the frame as the
// command ID_SCANNER_BUTTON, raised on the platform's own thread.
#include <gtest/gtest.h>

#include "platform/sim/SimKelvane.h"
#include "scanning/kelvane/EventCallback.h"
#include "scanning/kelvane/KelvaneScanner.h"
#include "tests/kelvane/PostCapture.h"

namespace kv = orb::kelvane;
using kv::test::PostCapture;
using orb::sim::KelvaneConfigFor;
using orb::sim::ScopedKelvaneWia;
using orb::sim::SimKelvane;

namespace {

orb::WindowHandle Frame() {
  static int frame;
  return &frame;
}

std::shared_ptr<SimKelvane> Scanner(const std::string& name) {
  return std::make_shared<SimKelvane>(KelvaneConfigFor(1, name, 3));
}

}  // namespace

TEST(KelvaneButton, APressPostsTheCommandToTheFrame) {
  PostCapture posts;
  auto s = Scanner("Kelvane Bn Scanner");
  ScopedKelvaneWia wia(s);
  CWIACommand t;
  ASSERT_TRUE(t.Open());
  CEventCallback callback;
  ASSERT_EQ(callback.Register(t.GetModelName(), t.GetDeviceHandle(), Frame()), kS_OK);
  wia.PressButton();
  ASSERT_EQ(posts.Count(), 1u);
  const auto p = posts.Posts()[0];
  EXPECT_EQ(p.window, Frame());
  EXPECT_EQ(p.msg, kv::kWmCommand);
  EXPECT_EQ(p.wParam, uintptr_t{ID_SCANNER_BUTTON});
  EXPECT_EQ(p.lParam, 0);
  wia.RaiseOtherEvent();  // another event of the same device posts nothing
  EXPECT_EQ(posts.Count(), 1u);
}

TEST(KelvaneButton, TheFirstEightCharactersDecide) {
  PostCapture posts;
  auto pv = Scanner("Kelvane Pv Scanner");
  auto other = Scanner("Drommel Pv Scanner");
  ScopedKelvaneWia pvEntry(pv);
  ScopedKelvaneWia otherEntry(other);
  auto manager = std::shared_ptr<orb::wia::DeviceManager>();
  ASSERT_EQ(orb::wia::CreateDeviceManager(manager), orb::wia::kOk);
  CEventCallback callback;
  ASSERT_EQ(callback.Register("Kelvane Bn Scanner", manager, Frame()), kS_OK);
  pvEntry.PressButton();  // "Kelvane " is common to both names
  EXPECT_EQ(posts.Count(), 1u);
  otherEntry.PressButton();  // a device of another name posts nothing
  EXPECT_EQ(posts.Count(), 1u);
  // The callback answers "done, nothing more" in every case.
  EXPECT_EQ(callback.ImageEventCallback(orb::wia::kEventScanImage, "", "x", "Kelvane Bn Scanner", 1,
                                        "", 1, 0),
            kS_FALSE);
  EXPECT_EQ(callback.ImageEventCallback("{0}", "", "x", "Kelvane Bn Scanner", 1, "", 1, 0), kS_FALSE);
  EXPECT_EQ(callback.ImageEventCallback(orb::wia::kEventScanImage, "", "x", "Kelv", 1, "", 1, 0),
            kS_FALSE);
  EXPECT_EQ(posts.Count(), 2u);
}

TEST(KelvaneButton, NoEventAfterTheCallbackIsGone) {
  PostCapture posts;
  auto s = Scanner("Kelvane Bn Scanner");
  ScopedKelvaneWia wia(s);
  std::shared_ptr<orb::wia::DeviceManager> manager;
  ASSERT_EQ(orb::wia::CreateDeviceManager(manager), orb::wia::kOk);
  {
    CEventCallback callback;
    ASSERT_EQ(callback.Register("Kelvane Bn Scanner", manager, Frame()), kS_OK);
  }
  wia.PressButton();
  EXPECT_EQ(posts.Count(), 0u);
  CEventCallback again;
  ASSERT_EQ(again.Register("Kelvane Bn Scanner", manager, Frame()), kS_OK);
  again.Unregister();
  wia.PressButton();
  EXPECT_EQ(posts.Count(), 0u);
  EXPECT_NE(again.Register("Kelvane Bn Scanner", nullptr, Frame()), kS_OK);
}

TEST(KelvaneButton, PressesWhileTheCallbackGoesAwayAreSafe) {
  // Presses on other threads race the callback's destruction; none may reach a destroyed
  // object (the sanitizer build checks it).
  PostCapture posts;
  auto s = Scanner("Kelvane Bn Scanner");
  ScopedKelvaneWia wia(s);
  std::shared_ptr<orb::wia::DeviceManager> manager;
  ASSERT_EQ(orb::wia::CreateDeviceManager(manager), orb::wia::kOk);
  std::atomic<bool> stop{false};
  std::thread presser([&] {
    while (!stop) orb::wia::RaiseEvent(wia.DeviceId(), orb::wia::kEventScanImage);
  });
  for (int i = 0; i < 200; ++i) {
    auto callback = std::make_unique<CEventCallback>();
    ASSERT_EQ(callback->Register("Kelvane Bn Scanner", manager, Frame()), kS_OK);
    callback.reset();
  }
  stop = true;
  presser.join();
  const size_t delivered = posts.Count();
  EXPECT_EQ(orb::wia::RaiseEvent(wia.DeviceId(), orb::wia::kEventScanImage), 0);
  EXPECT_EQ(posts.Count(), delivered);  // nothing reaches a callback that is gone
}

TEST(KelvaneButton, QueryInterface) {
  CEventCallback callback;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(callback.QueryInterface(kIID_IWiaEventCallback, &out), kS_OK);
  EXPECT_EQ(out, &callback);
  EXPECT_EQ(callback.QueryInterface(kIID_IUnknown, &out), kS_OK);
  EXPECT_EQ(callback.Release(), 1u);  // two AddRefs, one Release
  EXPECT_EQ(callback.QueryInterface("{11111111-0000-0000-0000-000000000000}", &out), kE_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(callback.QueryInterface(kIID_IUnknown, nullptr), kE_POINTER);
  EXPECT_EQ(callback.AddRef(), 2u);
}
