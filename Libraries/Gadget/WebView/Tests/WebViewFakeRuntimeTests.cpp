// The engine against a fake runtime library placed beside the test program
// as the loader: what it asks of the runtime, in which order, what it does
// with the runtime's events, and that it gives everything back.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeRuntime/FakeRuntime.h"
#include "InstalledRuntime.h"
#include "QueueImports.h"
#include "ShellImports.h"
#include "WebView/webview.h"
#include "WebViewTestWindow.h"

namespace velto::webview {
namespace {

using namespace std::chrono_literals;
using testing::ParentWindow;
using testing::pump_for;
using testing::pump_until;

std::vector<std::string> runtime_log() {
  std::vector<std::string> log;
  for (int i = 0; i < fake_runtime_log_size(); ++i) {
    log.emplace_back(fake_runtime_log_entry(i));
  }
  return log;
}

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Index of the first entry at or after `from` that starts with `prefix`; -1 if none.
int find_entry(const std::vector<std::string>& log, const std::string& prefix, int from = 0) {
  for (int i = std::max(from, 0); i < static_cast<int>(log.size()); ++i) {
    if (starts_with(log[static_cast<std::size_t>(i)], prefix)) {
      return i;
    }
  }
  return -1;
}

bool has_entry(const std::string& prefix) {
  return find_entry(runtime_log(), prefix) >= 0;
}

// Entries that start with `prefix`.
int count_entries(const std::string& prefix) {
  int count = 0;
  for (const std::string& entry : runtime_log()) {
    count += starts_with(entry, prefix) ? 1 : 0;
  }
  return count;
}

// The engine's own page of `kind` ("offline", "certificate", "crashed") was
// shown in place of a web page.
bool shows_own_page(const std::string& kind) {
  const std::string marker = "<meta name=\"velto-own-page\" content=\"" + kind + "\">";
  for (const std::string& entry : runtime_log()) {
    if (starts_with(entry, "NavigateToString ") && entry.find(marker) != std::string::npos) {
      return true;
    }
  }
  return false;
}

// What the engine asked the shell to do, watched through its import table.
struct ShellCall {
  ULONG mask = 0;
  HWND window = nullptr;
  std::wstring verb;
  std::wstring file;
  std::wstring parameters;
  int show = 0;
};

std::vector<ShellCall>& shell_calls() {
  static std::vector<ShellCall> calls;
  return calls;
}

BOOL WINAPI record_shell_execute(SHELLEXECUTEINFOW* info) {
  shell_calls().push_back({info->fMask, info->hwnd, info->lpVerb ? info->lpVerb : L"<null>",
                           info->lpFile ? info->lpFile : L"<null>", info->lpParameters ? info->lpParameters : L"<null>",
                           info->nShow});
  return TRUE;
}

// The Downloads folder the engine is given: the test's own, or none.
std::wstring& download_folder() {
  static std::wstring folder;
  return folder;
}

HRESULT WINAPI test_known_folder(REFKNOWNFOLDERID id, DWORD, HANDLE, PWSTR* path) {
  *path = nullptr;
  // FOLDERID_Downloads
  constexpr GUID kDownloads = {0x374de290, 0x123f, 0x4565, {0x91, 0x64, 0x39, 0xc4, 0x92, 0x5e, 0x46, 0x7b}};
  if (!IsEqualGUID(id, kDownloads) || download_folder().empty()) {
    return E_FAIL;
  }
  const std::size_t bytes = (download_folder().size() + 1) * sizeof(wchar_t);
  *path = static_cast<PWSTR>(CoTaskMemAlloc(bytes));
  CopyMemory(*path, download_folder().c_str(), bytes);
  return S_OK;
}

// The runtime's numbers (see WebView2Abi.h).
constexpr int kCertificateExpired = 2;
constexpr int kCertificateIsInvalid = 5;
constexpr int kConnectionAborted = 9;
constexpr int kCannotConnect = 12;
constexpr int kHostNameNotResolved = 13;
constexpr int kOperationCanceled = 14;
constexpr int kBrowserProcessExited = 0;
constexpr int kRenderProcessExited = 1;
constexpr int kRenderProcessUnresponsive = 2;
constexpr int kCamera = 2;
constexpr int kNotifications = 4;
constexpr int kDefault = 0;
constexpr int kAllow = 1;
constexpr int kDeny = 2;

constexpr char kHome[] = "https://127.0.0.1:8443/chat";
constexpr wchar_t kHomeWide[] = L"https://127.0.0.1:8443/chat";

// The runtime loading the home as navigation `id`, which ends with web
// error `status` (0: loaded).
void load_home(unsigned long long id, int status) {
  int cancel = -1;
  ASSERT_EQ(fake_runtime_navigation_starting(kHomeWide, 0, 0, id, &cancel), 1);
  ASSERT_EQ(cancel, 0);
  ASSERT_EQ(fake_runtime_navigation_completed(status == 0 ? 1 : 0, status, id), 1);
}

std::string hwnd_text(HWND window) {
  return std::to_string(reinterpret_cast<std::uintptr_t>(window));
}

struct Call {
  std::string id;
  std::string request;
};

// A view destroyed when the test ends, also after a failed assertion.
struct ViewDestroyer {
  void operator()(void* view) const noexcept { webview_destroy(view); }
};
using View = std::unique_ptr<void, ViewDestroyer>;

void record_call(const char* id, const char* request, void* arg) {
  static_cast<std::vector<Call>*>(arg)->push_back({id, request});
}

class WebViewFakeRuntime : public ::testing::Test {
 protected:
  // Nothing is ever launched from these tests.
  static void SetUpTestSuite() { shell_imports() = {record_shell_execute, test_known_folder}; }

  void SetUp() override {
    fake_runtime_fail(nullptr);
    fake_runtime_clear_log();
    shell_calls().clear();
    download_folder().clear();
    ASSERT_NE(parent_.handle(), nullptr);
  }
  void TearDown() override {
    fake_runtime_fail(nullptr);
    pump_for(50ms);
  }

  webview_t create(int debug) {
    HWND handle = parent_.handle();
    return webview_create(debug, &handle);
  }

  // A view with the binding "f", which records its calls in `calls`.
  View create_bound(std::vector<Call>& calls) {
    View view(create(0));
    if (view && webview_bind(view.get(), "f", record_call, &calls) == WEBVIEW_ERROR_OK) {
      pump_for(50ms);
    }
    return view;
  }

  // A view kept to kHome that has loaded it once.
  webview_t create_at_home() {
    webview_t w = create(0);
    if (w == nullptr || webview_set_home(w, kHome) != WEBVIEW_ERROR_OK) {
      return w;
    }
    load_home(1, 0);
    fake_runtime_clear_log();
    return w;
  }

  ParentWindow parent_;
};

TEST_F(WebViewFakeRuntime, CreationSetsTheBrowserUpInOrderAndDestroyGivesEverythingBack) {
  webview_t w = create(0);
  ASSERT_NE(w, nullptr);
  HWND widget = static_cast<HWND>(webview_get_native_handle(w, WEBVIEW_NATIVE_HANDLE_KIND_UI_WIDGET));
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(GetParent(widget), parent_.handle());
  wchar_t class_name[64] = {};
  GetClassNameW(widget, class_name, 64);
  EXPECT_EQ(std::wstring(class_name), L"webview_widget");
  RECT client{};
  GetClientRect(widget, &client);
  EXPECT_EQ(client.right, 0);
  EXPECT_EQ(client.bottom, 0);
  EXPECT_EQ(webview_get_native_handle(w, WEBVIEW_NATIVE_HANDLE_KIND_UI_WINDOW), parent_.handle());
  EXPECT_NE(webview_get_native_handle(w, WEBVIEW_NATIVE_HANDLE_KIND_BROWSER_CONTROLLER), nullptr);

  const std::vector<std::string> log = runtime_log();
  ASSERT_FALSE(log.empty());
  // No browser folder, no options; the profile lives under the roaming
  // application data, named after the program.
  EXPECT_TRUE(starts_with(log[0], "CreateCoreWebView2EnvironmentWithOptions <null> ")) << log[0];
  EXPECT_NE(log[0].find("\\webview_fake_runtime_tests.exe <null>"), std::string::npos) << log[0];
  int at = 1;
  for (const std::string& step :
       {"CreateCoreWebView2Controller " + hwnd_text(widget), std::string("get_CoreWebView2"),
        std::string("get_Settings"), std::string("put_IsStatusBarEnabled 0"), std::string("put_AreDevToolsEnabled 0"),
        std::string("put_AreDefaultScriptDialogsEnabled 1"), std::string("put_IsWebMessageEnabled 1"),
        std::string("add_WebMessageReceived"), std::string("add_NavigationStarting"),
        std::string("add_NavigationCompleted"), std::string("add_NewWindowRequested"),
        std::string("add_PermissionRequested"), std::string("add_ProcessFailed"), std::string("add_DownloadStarting"),
        std::string("AddScriptToExecuteOnDocumentCreated "), std::string("put_IsVisible 1"),
        std::string("put_Bounds 0 0 0 0"), std::string("MoveFocus 0")}) {
    const int found = find_entry(log, step, at);
    EXPECT_GE(found, at) << "missing or out of order: " << step;
    at = found < 0 ? at : found + 1;
  }
  const int script = find_entry(log, "AddScriptToExecuteOnDocumentCreated ");
  ASSERT_GE(script, 0);
  EXPECT_NE(log[static_cast<std::size_t>(script)].find("window.chrome.webview"), std::string::npos)
      << "the document script carries the bridge";
  EXPECT_EQ(fake_runtime_document_scripts(), 1);

  // The browser follows the widget's client area.
  MoveWindow(widget, 5, 6, 300, 200, TRUE);
  EXPECT_EQ(runtime_log().back(), "put_Bounds 0 0 300 200");

  fake_runtime_clear_log();
  EXPECT_EQ(webview_navigate(w, "https://127.0.0.1:8443/chat?x=\xC3\xBC"), WEBVIEW_ERROR_OK);
  EXPECT_EQ(webview_navigate(w, ""), WEBVIEW_ERROR_OK);
  EXPECT_EQ(webview_navigate(w, nullptr), WEBVIEW_ERROR_OK);
  EXPECT_EQ(runtime_log(), (std::vector<std::string>{"Navigate https://127.0.0.1:8443/chat?x=\xC3\xBC",
                                                     "Navigate about:blank", "Navigate about:blank"}));

  fake_runtime_clear_log();
  EXPECT_EQ(webview_destroy(w), WEBVIEW_ERROR_OK);
  // Every handler goes before the controller closes.
  EXPECT_EQ(runtime_log(), (std::vector<std::string>{"remove_DownloadStarting 16", "remove_WebMessageReceived 7",
                                                     "remove_NavigationStarting 11", "remove_NavigationCompleted 12",
                                                     "remove_NewWindowRequested 13", "remove_PermissionRequested 14",
                                                     "remove_ProcessFailed 15", "Close"}));
  EXPECT_FALSE(IsWindow(widget));
  EXPECT_TRUE(parent_.children().empty());
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

TEST_F(WebViewFakeRuntime, DeveloperToolsFollowTheDebugFlag) {
  for (int debug : {1, 0, 1}) {
    fake_runtime_clear_log();
    webview_t w = create(debug);
    ASSERT_NE(w, nullptr);
    const std::vector<std::string> log = runtime_log();
    EXPECT_GE(find_entry(log, "put_AreDevToolsEnabled " + std::to_string(debug)), 0) << "debug " << debug;
    EXPECT_EQ(find_entry(log, "put_AreDevToolsEnabled " + std::to_string(1 - debug)), -1) << "debug " << debug;
    webview_destroy(w);
    EXPECT_EQ(fake_runtime_live_objects(), 0);
  }
}

TEST_F(WebViewFakeRuntime, PageCallsReachTheBindingFromTheMessageLoopAndRepliesGoBack) {
  webview_t w = create(0);
  ASSERT_NE(w, nullptr);
  pump_for(50ms);
  std::vector<Call> calls;
  fake_runtime_clear_log();
  ASSERT_EQ(webview_bind(w, "add", record_call, &calls), WEBVIEW_ERROR_OK);
  pump_for(50ms);
  // The new document script replaces the first one.
  const std::vector<std::string> after_bind = runtime_log();
  EXPECT_GE(find_entry(after_bind, "RemoveScriptToExecuteOnDocumentCreated script-1"), 0);
  const int added = find_entry(after_bind, "AddScriptToExecuteOnDocumentCreated ");
  ASSERT_GE(added, 0);
  EXPECT_NE(after_bind[static_cast<std::size_t>(added)].find("\"add\""), std::string::npos);

  ASSERT_EQ(fake_runtime_post_message(LR"({"id":"c1","method":"add","params":[1,"\u00fc"]})"), 1);
  EXPECT_TRUE(calls.empty()) << "never inside the page's call";
  ASSERT_TRUE(pump_until([&] { return !calls.empty(); }, 5s));
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].id, "c1");
  EXPECT_EQ(calls[0].request, R"([1,"\u00fc"])");

  fake_runtime_clear_log();
  EXPECT_EQ(webview_return(w, "c1", 0, "42"), WEBVIEW_ERROR_OK);
  const std::vector<std::string> after_return = runtime_log();
  const int reply = find_entry(after_return, "ExecuteScript ");
  ASSERT_GE(reply, 0);
  EXPECT_NE(after_return[static_cast<std::size_t>(reply)].find("\"c1\""), std::string::npos);
  EXPECT_NE(after_return[static_cast<std::size_t>(reply)].find("42"), std::string::npos);

  // Not an envelope: ignored.
  ASSERT_EQ(fake_runtime_post_message(L"hello"), 1);
  pump_for(100ms);
  EXPECT_EQ(calls.size(), 1u);

  webview_destroy(w);
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

// The page's calls go through the host object's postMessage, which needs
// its receiver: the fake refuses a message whose bridge takes the method
// off window.chrome.webview.
TEST_F(WebViewFakeRuntime, TheBridgeCallsPostMessageOnItsObject) {
  std::vector<Call> calls;
  const View view = create_bound(calls);
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(fake_runtime_post_message(LR"({"id":"1","method":"f","params":[]})"), 1)
      << ::testing::PrintToString(runtime_log());
  ASSERT_TRUE(pump_until([&] { return !calls.empty(); }, 5s));
}

// A bind right after a navigation: the document that navigation creates
// runs the old script or the new one, never neither.
TEST_F(WebViewFakeRuntime, BindingReplacesTheDocumentScriptWithoutAGap) {
  View view(create(0));
  webview_t w = view.get();
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(fake_runtime_document_scripts(), 1);
  std::vector<Call> calls;
  for (const char* name : {"a", "b", "c"}) {
    EXPECT_EQ(webview_navigate(w, kHome), WEBVIEW_ERROR_OK);
    ASSERT_EQ(webview_bind(w, name, record_call, &calls), WEBVIEW_ERROR_OK);
    EXPECT_GE(fake_runtime_document_scripts(), 1) << name;
    // A call made by that document reaches its binding.
    ASSERT_EQ(fake_runtime_post_message(LR"({"id":"x","method":"a","params":[]})"), 1) << name;
  }
  ASSERT_TRUE(pump_until([&] { return calls.size() == 3; }, 5s));
  pump_for(100ms);
  // In the end only the newest is left, with every binding.
  ASSERT_EQ(fake_runtime_document_scripts(), 1);
  const std::vector<std::string> log = runtime_log();
  int newest = -1;
  for (int at = find_entry(log, "AddScriptToExecuteOnDocumentCreated "); at >= 0;
       at = find_entry(log, "AddScriptToExecuteOnDocumentCreated ", at + 1)) {
    newest = at;
  }
  ASSERT_GE(newest, 0);
  for (const char* name : {"\"a\"", "\"b\"", "\"c\""}) {
    EXPECT_NE(log[static_cast<std::size_t>(newest)].find(name), std::string::npos) << name;
  }
  view.reset();
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

// Wine's message queues have no quota; a full one is made here by refusing
// the post, as PostMessageW does at 10,000 posted messages.
class FullQueue {
 public:
  FullQueue() : saved_(queue_imports()) { queue_imports().post = refuse; }
  ~FullQueue() { queue_imports() = saved_; }
  FullQueue(const FullQueue&) = delete;
  FullQueue& operator=(const FullQueue&) = delete;

  static int refused() { return refused_; }

 private:
  static BOOL WINAPI refuse(HWND, UINT, WPARAM, LPARAM) {
    ++refused_;
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  static inline int refused_ = 0;
  QueueImports saved_;
};

TEST_F(WebViewFakeRuntime, CallsArrivingWhileTheQueueIsFullAreNotLost) {
  std::vector<Call> calls;
  View view = create_bound(calls);
  ASSERT_NE(view, nullptr);
  {
    const FullQueue full;
    for (const wchar_t* call : {LR"({"id":"1","method":"f","params":[1]})", LR"({"id":"2","method":"f","params":[2]})",
                                LR"({"id":"3","method":"g","params":[3]})"}) {
      ASSERT_EQ(fake_runtime_post_message(call), 1);
    }
    EXPECT_GE(FullQueue::refused(), 1);
    ASSERT_TRUE(pump_until([&] { return calls.size() == 2; }, 5s)) << calls.size();
  }
  EXPECT_EQ(calls[0].id, "1");
  EXPECT_EQ(calls[1].id, "2");
  // The call without a binding is answered (rejected), not dropped.
  ASSERT_TRUE(
      pump_until([] { return has_entry("ExecuteScript window.__velto_webview&&__velto_webview.settle(\"3\""); }, 5s));
  ASSERT_EQ(fake_runtime_post_message(LR"({"id":"4","method":"f","params":[4]})"), 1);
  ASSERT_TRUE(pump_until([&] { return calls.size() == 3; }, 5s));
  view.reset();
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

// The values RegisterWindowMessage hands out (0xC000-0xFFFF) may reach the
// widget from anywhere; none of them is taken for one of the engine's tasks.
TEST_F(WebViewFakeRuntime, RegisteredMessagesAreNeverTakenForTasks) {
  View view(create(0));
  webview_t w = view.get();
  ASSERT_NE(w, nullptr);
  HWND widget = static_cast<HWND>(webview_get_native_handle(w, WEBVIEW_NATIVE_HANDLE_KIND_UI_WIDGET));
  ASSERT_NE(widget, nullptr);
  // A message of that range carrying what looks like a task.
  auto ran = std::make_shared<bool>(false);
  auto* bait = new std::function<void()>([ran] { *ran = true; });
  const std::weak_ptr<bool> alive = ran;
  ran.reset();
  for (UINT message = 0xC000; message <= 0xFFFF; ++message) {
    SendMessageW(widget, message, 0, reinterpret_cast<LPARAM>(bait));
    ASSERT_FALSE(alive.expired()) << "message " << message << " deleted it";
    ASSERT_FALSE(*alive.lock()) << "message " << message << " ran it";
  }
  delete bait;
  std::vector<Call> calls;
  ASSERT_EQ(webview_bind(w, "f", record_call, &calls), WEBVIEW_ERROR_OK);
  ASSERT_EQ(fake_runtime_post_message(LR"({"id":"1","method":"f","params":[]})"), 1);
  ASSERT_TRUE(pump_until([&] { return calls.size() == 1; }, 5s));
}

// The loader library beside the program is the first choice, also where a
// runtime is installed.
TEST_F(WebViewFakeRuntime, TheLoaderBesideTheProgramComesBeforeTheInstalledRuntime) {
  const testing::InstalledRuntime installed(testing::fake_installs_directory() + L"\\Runtime", L"1.2.3.4");
  if (!installed.registered()) {
    GTEST_SKIP() << "a browser runtime is registered for this user already";
  }
  View view(create(0));
  webview_t w = view.get();
  ASSERT_NE(w, nullptr);
  const std::vector<std::string> log = runtime_log();
  ASSERT_FALSE(log.empty());
  EXPECT_TRUE(starts_with(log[0], "CreateCoreWebView2EnvironmentWithOptions ")) << log[0];
  EXPECT_EQ(GetModuleHandleW(testing::kRuntimeLibrary), nullptr);
}

TEST_F(WebViewFakeRuntime, QueuedCallsAreDroppedByUnbindAndByDestroy) {
  webview_t w = create(0);
  ASSERT_NE(w, nullptr);
  std::vector<Call> calls;
  ASSERT_EQ(webview_bind(w, "f", record_call, &calls), WEBVIEW_ERROR_OK);
  ASSERT_EQ(fake_runtime_post_message(LR"({"id":"1","method":"f","params":[]})"), 1);
  ASSERT_EQ(webview_unbind(w, "f"), WEBVIEW_ERROR_OK);
  pump_for(200ms);
  EXPECT_TRUE(calls.empty());

  ASSERT_EQ(webview_bind(w, "f", record_call, &calls), WEBVIEW_ERROR_OK);
  ASSERT_EQ(fake_runtime_post_message(LR"({"id":"2","method":"f","params":[]})"), 1);
  ASSERT_EQ(fake_runtime_post_message(LR"({"id":"3","method":"f","params":[]})"), 1);
  EXPECT_EQ(webview_destroy(w), WEBVIEW_ERROR_OK);
  pump_for(200ms);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(fake_runtime_live_objects(), 0);
  EXPECT_EQ(fake_runtime_post_message(LR"({"id":"4","method":"f","params":[]})"), 0) << "handler gone";
}

TEST_F(WebViewFakeRuntime, FailedCreationReturnsNullAndLeavesNothing) {
  for (const char* step : {"environment", "controller"}) {
    fake_runtime_fail(step);
    EXPECT_EQ(create(0), nullptr) << step;
    EXPECT_TRUE(parent_.children().empty()) << step;
    pump_for(50ms);
    EXPECT_EQ(fake_runtime_live_objects(), 0) << step;
  }
  fake_runtime_fail(nullptr);
  for (int round = 0; round < 3; ++round) {
    webview_t w = create(0);
    ASSERT_NE(w, nullptr) << round;
    webview_destroy(w);
    EXPECT_TRUE(parent_.children().empty()) << round;
  }
  pump_for(50ms);
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

TEST_F(WebViewFakeRuntime, FocusGivenToTheWidgetMovesIntoThePage) {
  webview_t w = create(0);
  ASSERT_NE(w, nullptr);
  HWND widget = static_cast<HWND>(webview_get_native_handle(w, WEBVIEW_NATIVE_HANDLE_KIND_UI_WIDGET));
  fake_runtime_clear_log();
  SetFocus(parent_.handle());
  SetFocus(widget);
  EXPECT_TRUE(has_entry("MoveFocus 0"));
  webview_destroy(w);
}

TEST_F(WebViewFakeRuntime, NewWindowsOpenNoWindowAndGoToTheDesktopsHandler) {
  webview_t w = create_at_home();
  ASSERT_NE(w, nullptr);
  const std::size_t windows = parent_.children().size();

  int handled = -1;
  // Refused (no handler may get a local file), then handed over: the shell
  // runs in order, so one call means the first was never queued.
  ASSERT_EQ(fake_runtime_new_window(L"file:///C:/Windows/notepad.exe", 1, &handled), 1);
  EXPECT_EQ(handled, 1) << "the runtime opens no window of its own";
  ASSERT_EQ(fake_runtime_new_window(L"https://elsewhere.example/a?b=\u00fc", 1, &handled), 1);
  EXPECT_EQ(handled, 1);
  EXPECT_TRUE(shell_calls().empty()) << "never inside the runtime's event";
  ASSERT_TRUE(pump_until([] { return !shell_calls().empty(); }, 5s));
  pump_for(50ms);
  ASSERT_EQ(shell_calls().size(), 1u);
  const ShellCall& call = shell_calls()[0];
  EXPECT_EQ(call.verb, L"open");
  EXPECT_EQ(call.file, L"https://elsewhere.example/a?b=\u00fc");
  EXPECT_EQ(call.mask & SEE_MASK_NOASYNC, static_cast<ULONG>(SEE_MASK_NOASYNC));
  EXPECT_EQ(call.show, SW_SHOWNORMAL);
  EXPECT_EQ(call.window, parent_.handle());
  EXPECT_EQ(parent_.children().size(), windows);
  EXPECT_FALSE(has_entry("Navigate")) << "the view stays where it is";
  webview_destroy(w);
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

TEST_F(WebViewFakeRuntime, WithoutAHomeNewWindowsAreRefusedAndNavigationsStay) {
  webview_t w = create(0);
  ASSERT_NE(w, nullptr);
  int handled = -1;
  ASSERT_EQ(fake_runtime_new_window(L"https://elsewhere.example/", 1, &handled), 1);
  EXPECT_EQ(handled, 1);
  int cancel = -1;
  ASSERT_EQ(fake_runtime_navigation_starting(L"https://elsewhere.example/", 1, 0, 1, &cancel), 1);
  EXPECT_EQ(cancel, 0);
  ASSERT_EQ(fake_runtime_navigation_completed(0, kCannotConnect, 1), 1);
  int state = -1;
  ASSERT_EQ(fake_runtime_permission_requested(L"https://elsewhere.example/", kNotifications, &state), 1);
  EXPECT_EQ(state, kDefault);
  pump_for(200ms);
  EXPECT_TRUE(shell_calls().empty());
  EXPECT_FALSE(has_entry("NavigateToString")) << "no page of our own without a home";
  webview_destroy(w);
}

TEST_F(WebViewFakeRuntime, WhatTheUserFollowsElsewhereLeavesTheViewAndTheHomeStays) {
  webview_t w = create_at_home();
  ASSERT_NE(w, nullptr);
  struct Case {
    const wchar_t* url;
    int user_initiated;
    int redirected;
    int cancelled;
  };
  const Case cases[] = {
      {L"https://127.0.0.1:8443/chat/room/2", 1, 0, 0},  // the home's origin
      {L"HTTPS://127.0.0.1:8443/other", 1, 0, 0},
      {L"https://other.example/page", 1, 0, 1},  // handed over
      {L"https://sso.example/login", 0, 0, 0},   // the page's own doing
      {L"https://sso.example/next", 1, 1, 0},    // a redirect after a click
      {L"http://127.0.0.1:8443/chat", 1, 0, 1},  // another origin: handed over
      {L"file:///C:/Windows/notepad.exe", 1, 0, 1},
      {L"javascript:alert(1)", 1, 0, 1},
      {L"data:text/html,<p>x</p>", 0, 0, 1},
      {L"mailto:someone@example.org", 0, 0, 1},  // handed over
      {L"about:blank", 0, 0, 0},
  };
  UINT64 id = 10;
  for (const Case& c : cases) {
    int cancel = -1;
    ASSERT_EQ(fake_runtime_navigation_starting(c.url, c.user_initiated, c.redirected, ++id, &cancel), 1);
    EXPECT_EQ(cancel, c.cancelled) << ::testing::PrintToString(std::wstring(c.url));
  }
  ASSERT_TRUE(pump_until([] { return shell_calls().size() >= 3; }, 5s));
  pump_for(50ms);
  std::vector<std::wstring> handed;
  for (const ShellCall& call : shell_calls()) {
    EXPECT_EQ(call.verb, L"open");
    handed.push_back(call.file);
  }
  EXPECT_EQ(handed, (std::vector<std::wstring>{L"https://other.example/page", L"http://127.0.0.1:8443/chat",
                                               L"mailto:someone@example.org"}));
  webview_destroy(w);
}

TEST_F(WebViewFakeRuntime, AConnectionErrorShowsTheOfflinePageAndLoadsTheHomeAgainLater) {
  webview_t w = create_at_home();
  ASSERT_NE(w, nullptr);
  int cancel = -1;
  load_home(2, kCannotConnect);
  EXPECT_TRUE(shows_own_page("offline")) << ::testing::PrintToString(runtime_log());
  EXPECT_FALSE(has_entry("Navigate ")) << "not at once";

  // The runtime loads our page as a data URL: it is neither cancelled nor a
  // page load that would call the retry off.
  ASSERT_EQ(fake_runtime_navigation_starting(L"data:text/html;charset=utf-8;base64,PCFET0NUWVBF", 0, 0, 3, &cancel), 1);
  EXPECT_EQ(cancel, 0);
  ASSERT_EQ(fake_runtime_navigation_completed(1, 0, 3), 1);
  ASSERT_TRUE(pump_until([] { return has_entry(std::string("Navigate ") + kHome); }, 15s))
      << ::testing::PrintToString(runtime_log());
  EXPECT_EQ(count_entries("Navigate "), 1);

  // The retry fails again: the offline page, and another try later.
  fake_runtime_clear_log();
  load_home(4, kHostNameNotResolved);
  EXPECT_TRUE(shows_own_page("offline"));
  ASSERT_TRUE(pump_until([] { return has_entry(std::string("Navigate ") + kHome); }, 20s));
  webview_destroy(w);
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

TEST_F(WebViewFakeRuntime, CancelledAndUnrelatedCompletionsChangeNothing) {
  webview_t w = create_at_home();
  ASSERT_NE(w, nullptr);
  load_home(2, kOperationCanceled);
  load_home(3, kConnectionAborted);
  // A completion of a navigation that never started here (another was
  // cancelled meanwhile, or it was ours).
  ASSERT_EQ(fake_runtime_navigation_completed(0, kCannotConnect, 99), 1);
  EXPECT_FALSE(has_entry("NavigateToString"));
  webview_destroy(w);
}

TEST_F(WebViewFakeRuntime, ACertificateErrorShowsItsPageAndIsNotRetried) {
  for (const int status : {kCertificateExpired, kCertificateIsInvalid}) {
    webview_t w = create_at_home();
    ASSERT_NE(w, nullptr);
    load_home(2, status);
    EXPECT_TRUE(shows_own_page("certificate")) << status;
    EXPECT_FALSE(shows_own_page("offline")) << status;
    // Longer than the first retry of a connection error would wait.
    EXPECT_FALSE(pump_until([] { return has_entry("Navigate "); }, 3s)) << status;
    webview_destroy(w);
  }
}

TEST_F(WebViewFakeRuntime, ADeadPageProcessReloadsAFewTimesThenShowsTheCrashedPage) {
  webview_t w = create_at_home();
  ASSERT_NE(w, nullptr);
  for (const int kind : {kRenderProcessExited, kRenderProcessUnresponsive, kRenderProcessExited}) {
    fake_runtime_clear_log();
    ASSERT_EQ(fake_runtime_process_failed(kind), 1);
    EXPECT_FALSE(has_entry("Reload")) << "not at once";
    ASSERT_TRUE(pump_until([] { return has_entry("Reload"); }, 10s)) << kind;
  }
  fake_runtime_clear_log();
  ASSERT_EQ(fake_runtime_process_failed(kRenderProcessExited), 1);
  EXPECT_TRUE(shows_own_page("crashed")) << ::testing::PrintToString(runtime_log());
  EXPECT_FALSE(has_entry("Reload"));
  webview_destroy(w);
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

TEST_F(WebViewFakeRuntime, WhenTheBrowserProcessIsGoneNothingIsLoadedOrRetried) {
  webview_t w = create_at_home();
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(fake_runtime_process_failed(kBrowserProcessExited), 1);
  load_home(2, kCannotConnect);
  ASSERT_EQ(fake_runtime_process_failed(kRenderProcessExited), 1);
  EXPECT_EQ(webview_navigate(w, kHome), WEBVIEW_ERROR_OK);
  EXPECT_FALSE(has_entry("Navigate"));
  EXPECT_FALSE(has_entry("NavigateToString"));
  fake_runtime_clear_log();
  webview_destroy(w);
  EXPECT_EQ(runtime_log().back(), "Close");
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

TEST_F(WebViewFakeRuntime, NotificationsAreAllowedForTheHomesOriginOnly) {
  webview_t w = create_at_home();
  ASSERT_NE(w, nullptr);
  struct Case {
    const wchar_t* url;
    int kind;
    int state;
  };
  const Case cases[] = {
      {L"https://127.0.0.1:8443/", kNotifications, kAllow},
      {L"https://127.0.0.1:8443/chat/room", kNotifications, kAllow},
      {L"https://other.example/", kNotifications, kDeny},
      {L"http://127.0.0.1:8443/", kNotifications, kDeny},
      {L"https://127.0.0.1:9443/", kNotifications, kDeny},
      {L"", kNotifications, kDeny},
      {L"https://127.0.0.1:8443/", kCamera, kDefault},  // the runtime's own default
  };
  for (const Case& c : cases) {
    int state = -1;
    ASSERT_EQ(fake_runtime_permission_requested(c.url, c.kind, &state), 1);
    EXPECT_EQ(state, c.state) << ::testing::PrintToString(std::wstring(c.url)) << " kind " << c.kind;
  }
  webview_destroy(w);
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

TEST_F(WebViewFakeRuntime, ADestroyedViewRunsNoPendingRetryAndHearsNoEvents) {
  webview_t w = create_at_home();
  ASSERT_NE(w, nullptr);
  load_home(2, kCannotConnect);
  ASSERT_EQ(fake_runtime_new_window(L"https://elsewhere.example/", 1, nullptr), 1);
  webview_destroy(w);
  EXPECT_EQ(fake_runtime_live_objects(), 0);
  EXPECT_EQ(fake_runtime_new_window(L"https://elsewhere.example/", 1, nullptr), 0) << "handler gone";
  EXPECT_EQ(fake_runtime_process_failed(kRenderProcessExited), 0);
  // Past the first retry's wait; the queued hand-over went with the widget.
  EXPECT_FALSE(pump_until([] { return !shell_calls().empty(); }, 3s));
  EXPECT_TRUE(parent_.children().empty());
}

// ---- Downloads

// A folder of the test's own in the temporary folder, given to the engine
// as the Downloads folder, and deleted with what is in it.
class DownloadFolder {
 public:
  DownloadFolder() {
    wchar_t temp[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    static unsigned serial = 0;
    path_ = std::wstring(temp, length) + L"velto-downloads-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++serial);
    CreateDirectoryW(path_.c_str(), nullptr);
    download_folder() = path_;
  }
  ~DownloadFolder() {
    for (const std::wstring& name : names()) {
      DeleteFileW(file(name).c_str());
    }
    RemoveDirectoryW(path_.c_str());
    download_folder().clear();
  }
  DownloadFolder(const DownloadFolder&) = delete;
  DownloadFolder& operator=(const DownloadFolder&) = delete;

  [[nodiscard]] const std::wstring& path() const { return path_; }
  [[nodiscard]] std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

  // Every name in the folder, sorted.
  [[nodiscard]] std::vector<std::wstring> names() const {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data{};
    HANDLE search = FindFirstFileW((path_ + L"\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
      return found;
    }
    for (int i = 0; i < 10000; ++i) {
      const std::wstring name = data.cFileName;
      if (name != L"." && name != L"..") {
        found.push_back(name);
      }
      if (!FindNextFileW(search, &data)) {
        break;
      }
    }
    FindClose(search);
    std::sort(found.begin(), found.end());
    return found;
  }

  void write(const std::wstring& name, const std::string& bytes) const {
    HANDLE handle = CreateFileW(file(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(handle);
    ASSERT_EQ(written, bytes.size());
  }

  // The file's bytes; "<missing>" when it cannot be read.
  [[nodiscard]] std::string read(const std::wstring& name) const {
    HANDLE handle = CreateFileW(file(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      return "<missing>";
    }
    std::string bytes(4096, '\0');
    DWORD read = 0;
    ReadFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(handle);
    bytes.resize(read);
    return bytes;
  }

 private:
  std::wstring path_;
};

constexpr int kInProgress = 0;
constexpr int kInterrupted = 1;
constexpr int kCompleted = 2;

std::wstring download_path(int download) {
  wchar_t path[1024] = {};
  return fake_runtime_download_path(download, path, 1024) != 0 ? std::wstring(path) : std::wstring(L"<none>");
}

// The runtime downloading `bytes` under its own choice of `path`, to the
// end `state`; the download's number.
int run_download(const std::wstring& path, const std::string& bytes, int state) {
  const int download = fake_runtime_download_starting(path.c_str(), nullptr, nullptr);
  EXPECT_NE(download, 0);
  EXPECT_EQ(fake_runtime_download_write(download, bytes.data(), static_cast<int>(bytes.size())), 1);
  EXPECT_EQ(fake_runtime_download_state(download, state), 1);
  return download;
}

// The notice scripts the engine ran in the page, in order.
std::vector<std::string> notices() {
  std::vector<std::string> found;
  for (const std::string& entry : runtime_log()) {
    if (starts_with(entry, "ExecuteScript ") && entry.find("velto-download-notice") != std::string::npos) {
      found.push_back(entry);
    }
  }
  return found;
}

// The message a notice's button posts, as its script carries it.
std::wstring notice_button_message(const std::string& notice) {
  const std::size_t start = notice.find("\"open-folder:");
  if (start == std::string::npos) {
    return L"<none>";
  }
  const std::size_t end = notice.find('"', start + 1);
  const std::string message = notice.substr(start + 1, end - start - 1);
  return std::wstring(message.begin(), message.end());
}

TEST_F(WebViewFakeRuntime, ADownloadIsWrittenUnderATemporaryNameAndLandsUnderItsOwnWhenComplete) {
  DownloadFolder folder;
  View view(create(0));
  ASSERT_TRUE(view);
  pump_for(50ms);
  int handled = -1;
  int cancel = -1;
  const int download = fake_runtime_download_starting(L"C:\\users\\me\\Downloads\\report.pdf", &handled, &cancel);
  ASSERT_NE(download, 0);
  EXPECT_EQ(cancel, 0);
  EXPECT_EQ(handled, 1) << "the notice tells the user, not the runtime's list";

  const std::wstring part = download_path(download);
  EXPECT_EQ(part.compare(0, folder.path().size() + 8, folder.path() + L"\\.velto-"), 0) << part;
  EXPECT_EQ(part.size() - part.rfind(L".part"), 5u) << part;
  ASSERT_EQ(folder.names().size(), 1u) << "the temporary is reserved before the runtime writes";

  const std::string bytes = "%PDF-1.4 the report";
  ASSERT_EQ(fake_runtime_download_write(download, bytes.data(), static_cast<int>(bytes.size())), 1);
  ASSERT_EQ(fake_runtime_download_state(download, kInProgress), 1);
  EXPECT_EQ(folder.names(), std::vector<std::wstring>{part.substr(folder.path().size() + 1)}) << "not yet";
  ASSERT_EQ(fake_runtime_download_state(download, kCompleted), 1);
  EXPECT_EQ(folder.names(), std::vector<std::wstring>{L"report.pdf"});
  EXPECT_EQ(folder.read(L"report.pdf"), bytes);
  EXPECT_TRUE(has_entry("remove_StateChanged")) << "nothing more is heard of a finished download";

  const std::vector<std::string> shown = notices();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("report.pdf"), std::string::npos);
  EXPECT_NE(shown[0].find("Show in folder"), std::string::npos);

  // The notice's button: Explorer, by its full path, with the file selected;
  // from the engine's queue, and once per notice.
  const std::wstring message = notice_button_message(shown[0]);
  ASSERT_EQ(fake_runtime_post_message(message.c_str()), 1);
  EXPECT_TRUE(shell_calls().empty()) << "never inside the runtime's event";
  ASSERT_TRUE(pump_until([] { return !shell_calls().empty(); }, 5s));
  const ShellCall call = shell_calls()[0];
  EXPECT_EQ(call.verb, L"open");
  EXPECT_EQ(call.file.size() - call.file.rfind(L"\\explorer.exe"), 13u) << call.file;
  EXPECT_EQ(call.parameters, L"/select,\"" + folder.file(L"report.pdf") + L"\"");
  EXPECT_EQ(call.mask & SEE_MASK_NOASYNC, static_cast<ULONG>(SEE_MASK_NOASYNC));
  EXPECT_EQ(call.window, parent_.handle());
  ASSERT_EQ(fake_runtime_post_message(message.c_str()), 1);
  ASSERT_EQ(fake_runtime_post_message(L"open-folder:77"), 1);
  pump_for(100ms);
  EXPECT_EQ(shell_calls().size(), 1u) << "the page can open no folder by itself";

  view.reset();
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

TEST_F(WebViewFakeRuntime, ADownloadNeverReplacesAFile) {
  DownloadFolder folder;
  folder.write(L"report.pdf", "the user's report");
  folder.write(L"archive.tar.gz", "first archive");
  folder.write(L"archive (1).tar.gz", "second archive");
  View view(create(0));
  ASSERT_TRUE(view);

  run_download(L"C:\\d\\report.pdf", "downloaded report", kCompleted);
  run_download(L"C:\\d\\archive.tar.gz", "downloaded archive", kCompleted);
  // A file that appears under the name while the download runs stays too.
  const int notes = fake_runtime_download_starting(L"C:\\d\\notes.txt", nullptr, nullptr);
  ASSERT_NE(notes, 0);
  ASSERT_EQ(fake_runtime_download_write(notes, "downloaded notes", 16), 1);
  folder.write(L"notes.txt", "notes written meanwhile");
  ASSERT_EQ(fake_runtime_download_state(notes, kCompleted), 1);

  EXPECT_EQ(folder.names(),
            (std::vector<std::wstring>{L"archive (1).tar.gz", L"archive (2).tar.gz", L"archive.tar.gz",
                                       L"notes (1).txt", L"notes.txt", L"report (1).pdf", L"report.pdf"}));
  EXPECT_EQ(folder.read(L"report.pdf"), "the user's report");
  EXPECT_EQ(folder.read(L"archive.tar.gz"), "first archive");
  EXPECT_EQ(folder.read(L"archive (1).tar.gz"), "second archive");
  EXPECT_EQ(folder.read(L"notes.txt"), "notes written meanwhile");
  EXPECT_EQ(folder.read(L"report (1).pdf"), "downloaded report");
  EXPECT_EQ(folder.read(L"archive (2).tar.gz"), "downloaded archive");
  EXPECT_EQ(folder.read(L"notes (1).txt"), "downloaded notes");
  const std::vector<std::string> shown = notices();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_NE(shown[0].find("report (1).pdf"), std::string::npos) << "the notice names the file as saved";
}

TEST_F(WebViewFakeRuntime, AnInterruptedDownloadLeavesNothingBehind) {
  DownloadFolder folder;
  folder.write(L"movie.mp4", "the user's movie");
  View view(create(0));
  ASSERT_TRUE(view);
  run_download(L"C:\\d\\movie.mp4", "half a mov", kInterrupted);
  EXPECT_EQ(folder.names(), std::vector<std::wstring>{L"movie.mp4"});
  EXPECT_EQ(folder.read(L"movie.mp4"), "the user's movie");
  EXPECT_TRUE(has_entry("Cancel download")) << "nothing is kept for resuming";
  const std::vector<std::string> shown = notices();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("could not be downloaded"), std::string::npos);
  EXPECT_NE(shown[0].find("withFolder=false"), std::string::npos) << "no button without a file";
}

TEST_F(WebViewFakeRuntime, DestroyingTheViewCancelsItsDownloadsAndDeletesTheirFiles) {
  DownloadFolder folder;
  View view(create(0));
  ASSERT_TRUE(view);
  const int download = fake_runtime_download_starting(L"C:\\d\\big.iso", nullptr, nullptr);
  ASSERT_NE(download, 0);
  ASSERT_EQ(fake_runtime_download_write(download, "partial", 7), 1);
  fake_runtime_clear_log();
  view.reset();
  EXPECT_TRUE(has_entry("Cancel download"));
  EXPECT_TRUE(has_entry("remove_DownloadStarting"));
  EXPECT_TRUE(folder.names().empty());
  EXPECT_EQ(fake_runtime_download_state(download, kCompleted), 0) << "its handler is gone";
  EXPECT_TRUE(folder.names().empty());
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

TEST_F(WebViewFakeRuntime, SuggestedNamesAreMadeSafe) {
  const struct {
    const wchar_t* path;
    const wchar_t* saved;
  } cases[] = {
      {L"C:\\d\\CON.txt", L"_CON.txt"},  // a device, not a file
      {L"C:\\d\\a:b.txt", L"a_b.txt"},   // not a stream of "a"
      {L"C:\\d\\.profile", L"profile"},
      {L"C:\\d\\report\u202Efdp.exe", L"reportfdp.exe"},
      {L"C:\\d\\..", L"download"},
      {L"C:\\d\\tab\there. . .", L"tab_here"},
      {L"", L"download"},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(::testing::Message() << "case " << (&item - cases));
    DownloadFolder folder;
    View view(create(0));
    ASSERT_TRUE(view);
    run_download(item.path, "bytes", kCompleted);
    EXPECT_EQ(folder.names(), std::vector<std::wstring>{item.saved});
    EXPECT_EQ(folder.read(item.saved), "bytes");
  }
}

TEST_F(WebViewFakeRuntime, WithoutDownloadEventsOrAFolderTheRuntimeKeepsItsOwnWay) {
  fake_runtime_fail("downloads");
  {
    View view(create(0));
    ASSERT_TRUE(view) << "an older runtime still shows the chat";
    EXPECT_FALSE(has_entry("add_DownloadStarting"));
  }
  fake_runtime_fail(nullptr);
  fake_runtime_clear_log();
  View view(create(0));
  ASSERT_TRUE(view);
  int handled = -1;
  int cancel = -1;
  const int download = fake_runtime_download_starting(L"C:\\d\\report.pdf", &handled, &cancel);
  ASSERT_NE(download, 0);
  EXPECT_EQ(handled, 0) << "the runtime's list tells the user";
  EXPECT_EQ(cancel, 0);
  EXPECT_EQ(download_path(download), L"C:\\d\\report.pdf");
  EXPECT_FALSE(has_entry("put_ResultFilePath"));
}

}  // namespace
}  // namespace velto::webview
