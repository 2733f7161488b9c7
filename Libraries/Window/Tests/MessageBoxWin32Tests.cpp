// The message box under Windows (or Wine, on the test display), answered from
// a second thread as a user's click would, and the delay. Every allocation
// of this program can be made to fail.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "Core/WinApi.h"
#include "Window/Events.h"
#include "Window/Window.h"
#include "WindowInternal.h"
#include "WindowWin32Support.h"

namespace {

std::atomic<bool> g_allocations_fail{false};

}  // namespace

void* operator new(std::size_t size) {
  if (g_allocations_fail) {
    throw std::bad_alloc();
  }
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    return block;
  }
  throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
  std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}

namespace velto {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::hwnd_of;

constexpr std::uint32_t kMainWindowFlags = 0xCF0000;
constexpr std::uint32_t kYesNoInformation = 68;
constexpr int kStaticTextId = 0xFFFF;

bool topmost(HWND window) {
  return (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

// Waits (at most 5 s) for the box titled `title` to appear.
HWND find_box(const wchar_t* title) {
  const auto give_up = Clock::now() + 5s;
  while (Clock::now() < give_up) {
    if (HWND box = FindWindowW(L"#32770", title)) {
      return box;
    }
    std::this_thread::sleep_for(10ms);
  }
  return nullptr;
}

// Shows the box on this thread; `user` runs on a second thread once the box
// is up and answers it. Should the answer not arrive, No ends it after 5 s.
int ask(const wchar_t* title, TextView text, const std::function<void(HWND)>& user) {
  std::atomic<bool> answered{false};
  std::thread helper([&] {
    HWND box = find_box(title);
    if (!box) {
      return;
    }
    user(box);
    const auto give_up = Clock::now() + 5s;
    while (!answered && Clock::now() < give_up) {
      std::this_thread::sleep_for(10ms);
    }
    if (!answered && IsWindow(box)) {
      PostMessageW(box, WM_COMMAND, IDNO, 0);
    }
  });
  const int result = message_box(reinterpret_cast<const char16_t*>(title), text, kYesNoInformation);
  answered = true;
  helper.join();
  return result;
}

class MessageBoxWin32 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    event_queue_init();
    window_library_init();
  }
  static void TearDownTestSuite() { window_library_end(); }

  void TearDown() override {
    window_close(ANY_NUMBER);
    MSG message;
    for (int i = 0; i < 1000 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
      DispatchMessageW(&message);
    }
    event_remove(-1, -1, -1, -1);
  }
};

class FailingAllocations {
 public:
  FailingAllocations() { g_allocations_fail = true; }
  ~FailingAllocations() { g_allocations_fail = false; }
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;
};

// The guard collects the thread's windows in an EnumWindows callback. What
// it does there may throw (running out of memory), and the i686 compilers
// unwind with DWARF tables, which cannot pass the system's frames: an
// exception reaching them ends the program.
TEST_F(MessageBoxWin32, RunningOutOfMemoryWhileCollectingWindowsEndsTheSearchNotTheProgram) {
  ASSERT_NE(window_open(1, 50, 50, 200, 150, u"First", kMainWindowFlags), 0);
  ASSERT_NE(window_open(2, 80, 80, 200, 150, u"Second", kMainWindowFlags), 0);
  std::vector<platform::ModalCandidate> candidates;
  {
    const FailingAllocations failing;
    platform::modal_candidates(candidates);
  }
  EXPECT_TRUE(candidates.empty());
  // With memory the search finds both again.
  platform::modal_candidates(candidates);
  EXPECT_GE(candidates.size(), 2u);
}

TEST_F(MessageBoxWin32, AnswersTheButtonPressed) {
  struct Case {
    const wchar_t* title;
    WPARAM button;
    int expected;
  };
  for (const Case& c : {Case{L"Velto Yes", IDYES, IDYES}, Case{L"Velto No", IDNO, IDNO}}) {
    SCOPED_TRACE(c.expected);
    bool has_yes = false;
    bool has_no = false;
    const int answer = ask(c.title, u"Install the update now?", [&](HWND box) {
      has_yes = GetDlgItem(box, IDYES) != nullptr;
      has_no = GetDlgItem(box, IDNO) != nullptr;
      SendMessageW(GetDlgItem(box, static_cast<int>(c.button)), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(answer, c.expected);
    EXPECT_TRUE(has_yes);
    EXPECT_TRUE(has_no);
  }
}

TEST_F(MessageBoxWin32, PutsTheThreadsOtherWindowsAside) {
  ASSERT_NE(window_open(1, 50, 50, 200, 150, u"Second", kMainWindowFlags), 0);
  ASSERT_NE(window_open(2, 300, 50, 200, 150, u"Already off", kMainWindowFlags), 0);
  ASSERT_NE(window_open(3, 550, 50, 200, 150, u"On top", kMainWindowFlags), 0);
  ASSERT_NE(window_open(0, 100, 250, 300, 200, u"Velto", kMainWindowFlags), 0);
  HWND second = hwnd_of(1);
  HWND already_off = hwnd_of(2);
  HWND on_top = hwnd_of(3);
  EnableWindow(already_off, FALSE);
  SetWindowPos(on_top, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ASSERT_TRUE(topmost(on_top));
  SetForegroundWindow(hwnd_of(0));
  const bool main_in_front = GetForegroundWindow() == hwnd_of(0);

  bool second_enabled = true;
  bool already_off_enabled = true;
  bool on_top_topmost = true;
  HWND owner = nullptr;
  const int answer = ask(L"Velto Guard", u"Install?", [&](HWND box) {
    second_enabled = IsWindowEnabled(second) != FALSE;
    already_off_enabled = IsWindowEnabled(already_off) != FALSE;
    on_top_topmost = topmost(on_top);
    owner = GetWindow(box, GW_OWNER);
    SendMessageW(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
  });
  EXPECT_EQ(answer, IDYES);
  EXPECT_FALSE(second_enabled);
  EXPECT_FALSE(already_off_enabled);
  EXPECT_FALSE(on_top_topmost);
  if (main_in_front) {
    EXPECT_EQ(owner, hwnd_of(0));
  }

  EXPECT_TRUE(IsWindowEnabled(second));
  EXPECT_FALSE(IsWindowEnabled(already_off));
  EXPECT_TRUE(topmost(on_top));
  EXPECT_TRUE(IsWindowEnabled(hwnd_of(0)));
}

TEST_F(MessageBoxWin32, LongTextIsCut) {
  const Text text(70000, u'x');
  int shown = -1;
  const int answer = ask(L"Velto Long", text, [&](HWND box) {
    if (HWND label = GetDlgItem(box, kStaticTextId)) {
      shown = GetWindowTextLengthW(label);
    }
    SendMessageW(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
  });
  EXPECT_EQ(answer, IDNO);
  if (shown < 0) {
    GTEST_SKIP() << "the box shows its text in no static control here";
  }
  EXPECT_EQ(shown, 65534);
}

}  // namespace
}  // namespace velto
