// The gadget library's portable logic against the fake engine: the browser
// argument variable and the binding table. No windows are involved; gadget
// records are made with detached fake instances.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "Core/Memory.h"
#include "Core/Strings.h"
#include "FakeWebView.h"
#include "Gadget/Gadget.h"
#include "GadgetInternal.h"
#include "GadgetTestSupport.h"
#include "System/Process.h"

#ifdef _WIN32
#include "Core/WinApi.h"
#elif defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's count; its header is not always installed.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace velto {
namespace {

// Bytes the process's allocators hold for live blocks.
std::size_t live_heap_bytes() {
#ifdef _WIN32
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
  heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
  std::size_t total = 0;
  for (HANDLE heap : heaps) {
    if (!HeapLock(heap)) {
      continue;
    }
    PROCESS_HEAP_ENTRY entry{};
    for (int i = 0; i < 10'000'000 && HeapWalk(heap, &entry); ++i) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
        total += entry.cbData;
      }
    }
    HeapUnlock(heap);
  }
  return total;
#elif defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

// ---- The browser argument variable

struct MergeCase {
  const char* what;
  std::optional<Text> before;  // nullopt: unset
  Text expected;
};

TEST(MergeBrowserArgument, AddsTheSwitchUnlessItsNameOccurs) {
  const Text name = u"--disk-cache-dir";
  const Text cache_switch = u"--disk-cache-dir=\"C:\\Temp\\\\WebView2_Cache\"";
  const std::vector<MergeCase> cases = {
      {"unset", std::nullopt, u" " + cache_switch},
      {"empty", Text(), u" " + cache_switch},
      {"present", u"--disk-cache-dir=\"D:\\c\"", u"--disk-cache-dir=\"D:\\c\""},
      {"inside a quoted path", u"--user-data-dir=\"C:\\x--disk-cache-dir y\"",
       u"--user-data-dir=\"C:\\x--disk-cache-dir y\""},
      {"prefix of a longer switch", u"--disk-cache-directory-size=5", u"--disk-cache-directory-size=5"},
      {"at the end", u"--mute-audio --disk-cache-dir", u"--mute-audio --disk-cache-dir"},
      {"other case", u"--Disk-Cache-Dir=x", u"--Disk-Cache-Dir=x " + cache_switch},
      {"other switches", u"--lang=de --mute-audio", u"--lang=de --mute-audio " + cache_switch},
      {"trailing blank", u"--lang=de ", u"--lang=de  " + cache_switch},
  };
  for (const MergeCase& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.before) {
      env_set(kBrowserArgumentsVariable, *c.before);
    } else {
      gadget_testing::unset_browser_arguments();
    }
    merge_browser_argument(name, cache_switch);
    EXPECT_EQ(env_get(kBrowserArgumentsVariable), c.expected);
  }
  gadget_testing::unset_browser_arguments();
}

TEST(MergeBrowserArgument, LongValuesAreReadAndExtendedWhole) {
#ifdef _WIN32
  // A variable holds at most 32,766 units there (Wine cuts longer values
  // when they are set): the extended value reaches exactly that.
  constexpr std::size_t kLength = 32'766 - 19;
#else
  constexpr std::size_t kLength = 40'000;
#endif
  Text value = u"--a=";
  value.append(kLength - value.size() - 2, u'x');
  value += u"\u00e9z";  // non-ASCII near the end
  ASSERT_EQ(value.size(), kLength);
  env_set(kBrowserArgumentsVariable, value);
  merge_browser_argument(u"--disk-cache-dir", u"--disk-cache-dir=x");
  const Text extended = env_get(kBrowserArgumentsVariable);
  // Compared whole; only the sizes are printed.
  EXPECT_EQ(extended.size(), value.size() + 19);
  EXPECT_TRUE(extended == value + u" --disk-cache-dir=x");

  // The name right at the end of a long value is still found.
  const Text with_name = value + u" --disk-cache-dir=y";
  env_set(kBrowserArgumentsVariable, with_name);
  merge_browser_argument(u"--disk-cache-dir", u"--disk-cache-dir=x");
  const Text kept = env_get(kBrowserArgumentsVariable);
  EXPECT_EQ(kept.size(), with_name.size());
  EXPECT_TRUE(kept == with_name);
  gadget_testing::unset_browser_arguments();
}

// ---- Bindings

struct CallRecord {
  char callback = 0;
  Text arguments;
};
std::vector<CallRecord> g_calls;
const char* g_result = nullptr;  // what the callbacks answer (nullptr: nothing)

char* answer() {
  if (!g_result) {
    return nullptr;
  }
  const auto size = static_cast<std::intptr_t>(std::strlen(g_result) + 1);
  auto* block = static_cast<char*>(memory_alloc(size));
  if (block) {
    std::memcpy(block, g_result, static_cast<std::size_t>(size));
  }
  return block;
}

char* callback_a(const char16_t* arguments) {
  g_calls.push_back({'a', arguments});
  return answer();
}

char* callback_b(const char16_t* arguments) {
  g_calls.push_back({'b', arguments});
  return answer();
}

// A 16 KiB result block, to make a missing release visible.
char* callback_big(const char16_t*) {
  auto* block = static_cast<char*>(memory_alloc(16 * 1024));
  if (block) {
    std::memcpy(block, "42", 3);
  }
  return block;
}

int g_stand_in_host = 0;

class Bindings : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    string_library_init();
    memory_library_init();
    gadget_library_init();
  }

  void SetUp() override {
    g_calls.clear();
    g_result = nullptr;
  }

  void TearDown() override {
    for (ObjectNumber number : numbers_) {
      drop(number);
    }
    fake_webview_pump();
    fake_webview_log_clear();
  }

  // A gadget record as webview_gadget_create leaves it, without a window.
  ObjectNumber attach(ObjectNumber number) {
    GadgetRecord* record = registry_alloc(*gadget_state().registry, number);
    record->handle = &g_stand_in_host;
    record->kind = &webview_gadget_kind();
    record->instance = fake_webview_create_detached();
    record->bindings = binding_table_create();
    numbers_.push_back(number);
    return number;
  }

  static GadgetRecord& record(ObjectNumber number) { return *registry_get(*gadget_state().registry, number); }

  // What the host window's destruction does to the record.
  void drop(ObjectNumber number) {
    if (GadgetRecord* gadget = registry_get(*gadget_state().registry, number)) {
      gadget->kind->free(*gadget);
      registry_free(*gadget_state().registry, number);
    }
    std::erase(numbers_, number);
  }

  static std::string serial(ObjectNumber number) {
    return std::to_string(fake_webview_serial(record(number).instance));
  }

  std::vector<ObjectNumber> numbers_;
};

TEST_F(Bindings, BindingANameAgainReplacesTheCallback) {
  const ObjectNumber n = attach(0);
  const std::string s = serial(n);
  fake_webview_log_clear();
  webview_gadget_bind(n, u"send", callback_a);
  webview_gadget_bind(n, u"send", callback_b);
  // The engine refuses a second bind of a bound name: the first goes first.
  EXPECT_EQ(fake_webview_log(),
            (std::vector<std::string>{"bind " + s + " send", "unbind " + s + " send", "bind " + s + " send"}));
  EXPECT_EQ(record(n).bindings->size(), 1u);

  fake_webview_page_call(record(n).instance, "send", "1", "[]");
  EXPECT_EQ(fake_webview_pump(), 1);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].callback, 'b');
}

TEST_F(Bindings, NamesAreExactAndPerGadget) {
  const ObjectNumber first = attach(0);
  const ObjectNumber second = attach(1);
  webview_gadget_bind(first, u"send", callback_a);
  webview_gadget_bind(first, u"Send", callback_b);
  webview_gadget_bind(second, u"send", callback_b);
  EXPECT_EQ(record(first).bindings->size(), 2u);

  fake_webview_page_call(record(first).instance, "send", "1", "[1]");
  fake_webview_page_call(record(first).instance, "Send", "2", "[2]");
  fake_webview_page_call(record(second).instance, "send", "3", "[3]");
  EXPECT_EQ(fake_webview_pump(), 3);
  ASSERT_EQ(g_calls.size(), 3u);
  EXPECT_EQ(g_calls[0].callback, 'a');
  EXPECT_EQ(g_calls[1].callback, 'b');
  EXPECT_EQ(g_calls[2].callback, 'b');

  // Removing one gadget's name leaves the other gadget's and the other case.
  binding_remove(first, u"send");
  binding_remove(first, u"SEND");  // not bound: nothing to tell the engine
  g_calls.clear();
  fake_webview_page_call(record(first).instance, "send", "4", "[]");
  fake_webview_page_call(record(first).instance, "Send", "5", "[]");
  fake_webview_page_call(record(second).instance, "send", "6", "[]");
  EXPECT_EQ(fake_webview_pump(), 2);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].callback, 'b');
  EXPECT_EQ(g_calls[1].callback, 'b');
  for (const std::string& line : fake_webview_log()) {
    EXPECT_EQ(line.find("SEND"), std::string::npos) << line;
  }
}

TEST_F(Bindings, UnknownGadgetsAreLeftAlone) {
  fake_webview_log_clear();
  webview_gadget_bind(7, u"send", callback_a);
  binding_remove(7, u"send");
  webview_gadget_bind(ANY_NUMBER, u"send", callback_a);
  EXPECT_TRUE(fake_webview_log().empty());
}

TEST_F(Bindings, CallbacksGetUtf16ArgumentsAndTheirResultsReachThePage) {
  const ObjectNumber n = attach(0);
  const std::string s = serial(n);
  webview_gadget_bind(n, u"send", callback_a);
  fake_webview_log_clear();

  g_result = "\"ok\"";
  fake_webview_page_call(record(n).instance, "send", "11", "[]");
  fake_webview_page_call(record(n).instance, "send", "12", "[\"gr\xc3\xbc\xc3\x9f \xe2\x9c\x93 \xf0\x9f\x98\x80\"]");
  EXPECT_EQ(fake_webview_pump(), 2);
  g_result = nullptr;
  fake_webview_page_call(record(n).instance, "send", "13", "[null]");
  EXPECT_EQ(fake_webview_pump(), 1);

  ASSERT_EQ(g_calls.size(), 3u);
  EXPECT_EQ(g_calls[0].arguments, u"[]");
  EXPECT_EQ(g_calls[1].arguments, u"[\"gr\u00fc\u00df \u2713 \U0001F600\"]");
  EXPECT_EQ(g_calls[2].arguments, u"[null]");
  // No result resolves with undefined: an empty result.
  EXPECT_EQ(fake_webview_log(), (std::vector<std::string>{"return " + s + " 11 0 \"ok\"",
                                                          "return " + s + " 12 0 \"ok\"", "return " + s + " 13 0 "}));
}

TEST_F(Bindings, ResultBlocksAreReleased) {
  const ObjectNumber n = attach(0);
  webview_gadget_bind(n, u"big", callback_big);
  constexpr int kCalls = 100;
  // One round first, so that lazily made buffers are not counted.
  fake_webview_page_call(record(n).instance, "big", "0", "[]");
  fake_webview_pump();
  fake_webview_log_clear();
  const std::size_t before = live_heap_bytes();
  for (int i = 1; i <= kCalls; ++i) {
    fake_webview_page_call(record(n).instance, "big", "1", "[]");
    ASSERT_EQ(fake_webview_pump(), 1);
  }
  fake_webview_log_clear();
  const std::size_t after = live_heap_bytes();
  // Kept blocks would add 1.6 MB; allow for the allocators' own bookkeeping.
  EXPECT_LT(after, before + 256 * 1024) << "before " << before << ", after " << after;
}

TEST_F(Bindings, QueuedCallsNeverReachARemovedBinding) {
  const ObjectNumber n = attach(0);
  webview_gadget_bind(n, u"send", callback_a);

  // Rebound while a call waits: the call finds the new binding.
  fake_webview_page_call(record(n).instance, "send", "1", "[]");
  webview_gadget_bind(n, u"send", callback_b);
  EXPECT_EQ(fake_webview_pump(), 1);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].callback, 'b');

  // Unbound while a call waits: the call is dropped.
  fake_webview_page_call(record(n).instance, "send", "2", "[]");
  binding_remove(n, u"send");
  EXPECT_EQ(fake_webview_pump(), 0);

  // Gadget freed while a call waits: dropped with the instance.
  webview_gadget_bind(n, u"send", callback_a);
  webview_t instance = record(n).instance;
  fake_webview_page_call(instance, "send", "3", "[]");
  drop(n);
  EXPECT_FALSE(fake_webview_alive(instance));
  EXPECT_EQ(fake_webview_pump(), 0);
  EXPECT_EQ(g_calls.size(), 1u);
}

TEST_F(Bindings, FreeingAGadgetDestroysItsBrowserFirst) {
  const ObjectNumber n = attach(0);
  webview_gadget_bind(n, u"a", callback_a);
  webview_gadget_bind(n, u"b", callback_b);
  const std::string s = serial(n);
  fake_webview_log_clear();
  drop(n);
  // The bindings go with the table, after the browser that could call them.
  EXPECT_EQ(fake_webview_log(), std::vector<std::string>{"destroy " + s});
}

}  // namespace
}  // namespace velto
