// The new-message alert of the Windows client under Wine: which system
// calls it makes, watched through the client's own import table, while a
// real window 0 is in front, behind another window, or minimised.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Alert.h"
#include "AlertImports.h"
#include "Runtime/Runtime.h"
#include "Window/Window.h"

namespace velto::app {
namespace {

struct Call {
  std::wstring what;
  std::wstring sound;
  HMODULE module = nullptr;
  DWORD flags = 0;
  HWND window = nullptr;
  BOOL invert = FALSE;
};

std::vector<Call>& calls() {
  static std::vector<Call> recorded;
  return recorded;
}

BOOL WINAPI record_play_sound(LPCWSTR sound, HMODULE module, DWORD flags) {
  calls().push_back({L"PlaySoundW", sound ? sound : L"", module, flags, nullptr, FALSE});
  return TRUE;
}

BOOL WINAPI record_flash(HWND window, BOOL invert) {
  calls().push_back({L"FlashWindow", L"", nullptr, 0, window, invert});
  return TRUE;
}

void pump(DWORD milliseconds) {
  const DWORD until = GetTickCount() + milliseconds;
  MSG message;
  while (static_cast<LONG>(until - GetTickCount()) > 0) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(10);
  }
}

// Waits until `window` is the foreground window, bounded.
bool comes_to_front(HWND window) {
  for (int i = 0; i < 100; ++i) {
    SetForegroundWindow(window);
    pump(20);
    if (GetForegroundWindow() == window) {
      return true;
    }
  }
  return false;
}

class Alert : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    runtime_start();
    platform::alert_imports() = {record_play_sound, record_flash};
  }
  static void TearDownTestSuite() { runtime_end(); }

  void SetUp() override {
    ASSERT_NE(window_open(0, 100, 100, 300, 400, u"Velto alert test", 0xCF0000), 0);
    main_ = static_cast<HWND>(window_handle(0));
    calls().clear();
    // Each case starts as a client that has not played a sound yet.
    alert_sound_throttle().reset();
  }
  void TearDown() override { window_close(0); }

  void expect_one_alert() const {
    ASSERT_EQ(calls().size(), 2U);
    EXPECT_EQ(calls()[0].what, L"PlaySoundW");
    EXPECT_EQ(calls()[0].sound, L"SystemNotification");
    EXPECT_EQ(calls()[0].module, nullptr);
    EXPECT_EQ(calls()[0].flags, 0x10003U);
    EXPECT_EQ(calls()[1].what, L"FlashWindow");
    EXPECT_EQ(calls()[1].window, main_);
    EXPECT_EQ(calls()[1].invert, TRUE);
  }

  HWND main_ = nullptr;
};

TEST_F(Alert, NothingHappensWhileTheUserLooksAtTheClient) {
  ASSERT_TRUE(comes_to_front(main_));
  ASSERT_EQ(window_active(), 0);
  EXPECT_EQ(new_message_alert(u"[\"Anna\",\"hi\"]"), nullptr);
  EXPECT_TRUE(calls().empty());
}

TEST_F(Alert, AnotherWindowInFrontGetsOneSoundAndOneFlash) {
  HWND other = CreateWindowExW(0, L"STATIC", L"another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 500, 100, 200, 150,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(comes_to_front(other));
  EXPECT_EQ(window_active(), -1);
  EXPECT_EQ(new_message_alert(u"[]"), nullptr);
  expect_one_alert();
  DestroyWindow(other);
}

TEST_F(Alert, AMinimisedClientGetsOneSoundAndOneFlash) {
  ASSERT_TRUE(comes_to_front(main_));
  ShowWindow(main_, SW_MINIMIZE);
  pump(100);
  ASSERT_TRUE(IsIconic(main_));
  EXPECT_EQ(new_message_alert(u""), nullptr);
  expect_one_alert();
}

TEST_F(Alert, APageCallingInALoopGetsOneSoundButEveryFlash) {
  ASSERT_TRUE(comes_to_front(main_));
  ShowWindow(main_, SW_MINIMIZE);
  pump(100);
  ASSERT_TRUE(IsIconic(main_));
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(new_message_alert(u"[]"), nullptr);
  }
  int sounds = 0;
  int flashes = 0;
  for (const auto& call : calls()) {
    (call.what == L"PlaySoundW" ? sounds : flashes) += 1;
  }
  EXPECT_EQ(sounds, 1);
  EXPECT_EQ(flashes, 50);
}

TEST(SoundThrottle, OneSoundPerQuietTime) {
  using namespace std::chrono_literals;
  SoundThrottle throttle;
  const auto t0 = SoundThrottle::Clock::time_point{} + 1h;
  EXPECT_TRUE(throttle.allow(t0));
  EXPECT_FALSE(throttle.allow(t0 + 1ms));
  EXPECT_FALSE(throttle.allow(t0 + kSoundQuietTime - 1ms));
  EXPECT_TRUE(throttle.allow(t0 + kSoundQuietTime));
  EXPECT_FALSE(throttle.allow(t0 + kSoundQuietTime + 2s));
}

}  // namespace
}  // namespace velto::app
