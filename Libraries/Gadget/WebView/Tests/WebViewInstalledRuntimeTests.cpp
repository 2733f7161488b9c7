// The engine where no loader library lies beside the program and the
// installed runtime is found through its registration: a fake runtime built
// as the installed runtime's own library, at the place the registration
// names. The test program imports nothing from it; what the fake offers the
// tests is looked up in the loaded library.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ComPtr.h"
#include "InstalledRuntime.h"
#include "WebView/WebView2Abi.h"
#include "WebView/webview.h"
#include "WebViewTestWindow.h"

namespace velto::webview {
namespace {

using namespace std::chrono_literals;
using testing::fake_installs_directory;
using testing::InstalledRuntime;
using testing::kRuntimeLibrary;
using testing::ParentWindow;
using testing::pump_for;
using testing::pump_until;

constexpr char kInternalEntry[] = "CreateWebViewEnvironmentWithOptionsInternal";
constexpr char kLoaderEntry[] = "CreateCoreWebView2EnvironmentWithOptions";

HMODULE runtime_library() {
  return GetModuleHandleW(kRuntimeLibrary);
}

// A function of the loaded fake, or null.
template <class Function>
Function fake_function(const char* name) {
  HMODULE library = runtime_library();
  return library == nullptr
             ? nullptr
             : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

std::vector<std::string> runtime_log() {
  std::vector<std::string> log;
  const auto size = fake_function<int (*)()>("fake_runtime_log_size");
  const auto entry = fake_function<const char* (*)(int)>("fake_runtime_log_entry");
  if (size == nullptr || entry == nullptr) {
    return log;
  }
  for (int i = 0; i < size(); ++i) {
    log.emplace_back(entry(i));
  }
  return log;
}

void clear_log() {
  if (const auto clear = fake_function<void (*)()>("fake_runtime_clear_log")) {
    clear();
  }
}

long live_objects() {
  const auto live = fake_function<long (*)()>("fake_runtime_live_objects");
  return live == nullptr ? 0 : live();
}

// A view destroyed when the test ends, also after a failed assertion.
struct ViewDestroyer {
  void operator()(void* view) const noexcept { webview_destroy(view); }
};
using View = std::unique_ptr<void, ViewDestroyer>;

// Sets the fake's failing step for the life of the object.
class FailingStep {
 public:
  explicit FailingStep(const wchar_t* step) { SetEnvironmentVariableW(L"VELTO_FAKE_RUNTIME_FAIL", step); }
  ~FailingStep() { SetEnvironmentVariableW(L"VELTO_FAKE_RUNTIME_FAIL", nullptr); }
  FailingStep(const FailingStep&) = delete;
  FailingStep& operator=(const FailingStep&) = delete;
};

class WebViewInstalledRuntime : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(parent_.handle(), nullptr);
    if (!registration_.registered()) {
      GTEST_SKIP() << "a browser runtime is registered for this user already";
    }
    clear_log();
  }
  void TearDown() override { pump_for(50ms); }

  webview_t create() {
    HWND handle = parent_.handle();
    return webview_create(0, &handle);
  }

  ParentWindow parent_;
  InstalledRuntime registration_{fake_installs_directory() + L"\\Runtime", L"1.2.3.4"};
};

TEST_F(WebViewInstalledRuntime, TheRuntimeCreatesTheBrowserThroughItsOwnEntry) {
  View view(create());
  ASSERT_NE(view, nullptr);
  const std::vector<std::string> log = runtime_log();
  ASSERT_FALSE(log.empty());
  // Checking the runtime type, which is 0, "installed"; no options.
  EXPECT_EQ(log[0].rfind("CreateWebViewEnvironmentWithOptionsInternal 1 0 ", 0), 0u) << log[0];
  EXPECT_NE(log[0].find("\\webview_installed_runtime_tests.exe <null>"), std::string::npos) << log[0];
  view.reset();
  EXPECT_TRUE(parent_.children().empty());
  EXPECT_EQ(live_objects(), 0);
}

// The runtime may still own windows and threads in the process when the
// last view goes; unloading its code then would crash the next time one of
// them runs.
TEST_F(WebViewInstalledRuntime, TheRuntimeLibraryStaysLoadedAfterTheLastView) {
  for (int round = 0; round < 2; ++round) {
    View view(create());
    ASSERT_NE(view, nullptr) << round;
    ASSERT_NE(runtime_library(), nullptr) << round;
    view.reset();
    EXPECT_NE(runtime_library(), nullptr) << round;
    // The fake's own window still gets its messages.
    pump_for(100ms);
  }
}

TEST_F(WebViewInstalledRuntime, AFailingEntryOrRuntimeFailsCreationCleanly) {
  for (const wchar_t* step : {L"entry", L"environment", L"controller"}) {
    const FailingStep failing(step);
    for (int attempt = 0; attempt < 2; ++attempt) {
      EXPECT_EQ(create(), nullptr) << attempt;
      EXPECT_TRUE(parent_.children().empty()) << attempt;
    }
    pump_for(50ms);
    EXPECT_EQ(live_objects(), 0);
  }
  const View view(create());
  EXPECT_NE(view, nullptr) << "works again";
}

// A library without the entry (a damaged install), and a registration
// whose library is missing.
TEST(WebViewUnusableRuntime, ARegistrationWithoutAUsableLibraryMeansNoRuntime) {
  ParentWindow parent;
  ASSERT_NE(parent.handle(), nullptr);
  HWND handle = parent.handle();
  for (const auto& [folder, version] : {std::pair{L"\\Damaged", L"5.6.7.8"}, std::pair{L"\\Runtime", L"9.9.9.9"}}) {
    const InstalledRuntime registration(fake_installs_directory() + folder, version);
    if (!registration.registered()) {
      GTEST_SKIP() << "a browser runtime is registered for this user already";
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
      EXPECT_EQ(webview_create(0, &handle), nullptr) << attempt;
      EXPECT_TRUE(parent.children().empty()) << attempt;
    }
    pump_for(50ms);
  }
  EXPECT_TRUE(IsWindow(handle));
}

#if defined(__i386__)
// Bytes a __stdcall function of the declared type takes off the stack:
// every argument fills whole 4-byte slots.
template <class Function>
struct StackBytes;
template <class Result, class... Args>
struct StackBytes<Result(__stdcall*)(Args...)> {
  static constexpr std::size_t value = (((sizeof(Args) + 3) / 4 * 4) + ... + std::size_t{0});
};

// How far the stack pointer moved over one call through the engine's
// declaration. A __stdcall callee removes the arguments it was written for;
// a declaration of another arity leaves the stack moved by the difference.
template <class Function, class... Args>
std::ptrdiff_t stack_moved_by_call(Function function, Args... args) {
  std::uintptr_t before = 0;
  std::uintptr_t after = 0;
  asm volatile("movl %%esp, %0" : "=r"(before) : : "memory");
  function(args...);
  asm volatile("movl %%esp, %0" : "=r"(after) : : "memory");
  return static_cast<std::ptrdiff_t>(after - before);
}

// Takes the environment a direct call creates.
class EnvironmentHandler final
    : public ComHandler<abi::ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> {
 public:
  explicit EnvironmentHandler(std::shared_ptr<bool> done) : done_(std::move(done)) {}
  HRESULT STDMETHODCALLTYPE Invoke(HRESULT, abi::ICoreWebView2Environment*) override {
    *done_ = true;
    return S_OK;
  }

 private:
  std::shared_ptr<bool> done_;
};

// The entries as the fake declares them from their descriptions, called
// through the engine's declarations: the arity the export's decoration
// tells and the arity the engine declares agree, and the stack pointer is
// where it was after the call.
TEST_F(WebViewInstalledRuntime, TheEntriesTakeTheArgumentsTheEngineDeclares) {
  // Loaded through the engine, as a user's program would have it.
  ASSERT_NE(View(create()), nullptr);

  constexpr std::size_t internal_bytes = StackBytes<abi::CreateEnvironmentInternalFn>::value;
  constexpr std::size_t loader_bytes = StackBytes<abi::CreateEnvironmentWithOptionsFn>::value;
  static_assert(internal_bytes == 20 && loader_bytes == 16);
  EXPECT_NE(fake_function<void*>((std::string(kInternalEntry) + "@" + std::to_string(internal_bytes)).c_str()),
            nullptr);
  EXPECT_NE(fake_function<void*>((std::string(kLoaderEntry) + "@" + std::to_string(loader_bytes)).c_str()), nullptr);

  const auto internal = fake_function<abi::CreateEnvironmentInternalFn>(kInternalEntry);
  const auto loader = fake_function<abi::CreateEnvironmentWithOptionsFn>(kLoaderEntry);
  ASSERT_NE(internal, nullptr);
  ASSERT_NE(loader, nullptr);
  auto done = std::make_shared<bool>(false);
  {
    auto handler = make_handler<EnvironmentHandler>(done);
    EXPECT_EQ(stack_moved_by_call(internal, TRUE, 0, L"C:\\data", nullptr, handler.get()), 0);
  }
  ASSERT_TRUE(pump_until([&] { return *done; }, 5s));
  *done = false;
  {
    auto handler = make_handler<EnvironmentHandler>(done);
    EXPECT_EQ(stack_moved_by_call(loader, nullptr, L"C:\\data", nullptr, handler.get()), 0);
  }
  ASSERT_TRUE(pump_until([&] { return *done; }, 5s));
  pump_for(50ms);
  EXPECT_EQ(live_objects(), 0);
}
#endif

}  // namespace
}  // namespace velto::webview
