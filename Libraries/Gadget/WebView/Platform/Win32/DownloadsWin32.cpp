// Downloads on the browser runtime. The runtime writes each one to a file
// of ours: a new temporary in the Downloads folder, created
// exclusively before the runtime is given it, since the runtime replaces
// whatever is at the path it is given. Only when the download is complete
// is the file moved to its final name, with a number when that name is
// taken; a move never replaces a file.

#include "DownloadsWin32.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "ShellImports.h"
#include "WideText.h"

namespace velto::webview {

namespace {

// FOLDERID_Downloads, spelt out: MinGW's copy lives in a library of its own.
constexpr GUID kDownloadsFolder = {0x374de290, 0x123f, 0x4565, {0x91, 0x64, 0x39, 0xc4, 0x92, 0x5e, 0x46, 0x7b}};
// How many temporary names are tried before the download is given up.
constexpr int kPartAttempts = 64;

// The user's Downloads folder without a trailing separator, created when
// missing; empty when there is none.
std::wstring downloads_folder() {
  PWSTR raw = nullptr;
  const HRESULT result = shell_imports().known_folder(kDownloadsFolder, KF_FLAG_CREATE, nullptr, &raw);
  const std::unique_ptr<wchar_t, CoTaskMemDeleter> owned(raw);
  if (FAILED(result) || !owned) {
    return {};
  }
  std::wstring folder(owned.get());
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) {
    folder.pop_back();
  }
  return folder;
}

// A new empty file ".velto-XXXXXXXX.part" in `folder`, ours alone; empty
// when none could be made.
std::wstring reserve_part(const std::wstring& folder) {
  static DWORD counter = GetTickCount() ^ (GetCurrentProcessId() << 16U);
  for (int attempt = 0; attempt < kPartAttempts; ++attempt) {
    // A large odd step: names of one client spread, and two clients that
    // started at the same tick still meet only by chance.
    counter += 0x9E3779B9U;
    std::wstring part = folder + L"\\.velto-";
    for (int shift = 28; shift >= 0; shift -= 4) {
      part += L"0123456789abcdef"[(counter >> static_cast<unsigned>(shift)) & 0xFU];
    }
    part += L".part";
    HANDLE file = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return part;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      return {};
    }
  }
  return {};
}

// Moves `from` to `to` unless something is there; never replaces a file,
// even one that appeared meanwhile.
Placement move_without_replacing(const std::wstring& from, const std::wstring& to) {
  if (MoveFileExW(from.c_str(), to.c_str(), 0)) {
    return Placement::Placed;
  }
  const DWORD error = GetLastError();
  // A folder of that name (access denied) is taken too.
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ||
      (error == ERROR_ACCESS_DENIED && GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES)) {
    return Placement::Taken;
  }
  return Placement::Failed;
}

// Explorer's window on the file's folder, the file selected.
void show_in_folder(const std::wstring& path, HWND owner) {
  // Explorer by its full path: a bare name would be looked for in the
  // current directory first.
  wchar_t windows[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring explorer =
      length > 0 && length < MAX_PATH ? std::wstring(windows, length) + L"\\explorer.exe" : L"explorer.exe";
  const std::wstring parameters = L"/select,\"" + path + L"\"";
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOASYNC;
  info.hwnd = owner;
  info.lpVerb = L"open";
  info.lpFile = explorer.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOWNORMAL;
  static_cast<void>(shell_imports().execute(&info));
}

class StartingHandler final : public ComHandler<abi::ICoreWebView2DownloadStartingEventHandler> {
 public:
  explicit StartingHandler(std::shared_ptr<DownloadKeeper*> keeper) : keeper_(std::move(keeper)) {}

  HRESULT STDMETHODCALLTYPE Invoke(abi::ICoreWebView2*, abi::ICoreWebView2DownloadStartingEventArgs* args) override {
    if (*keeper_ != nullptr && args != nullptr) {
      try {
        (*keeper_)->on_starting(*args);
      } catch (...) {
        // Out of memory: the runtime's own handling goes on.
      }
    }
    return S_OK;
  }

 private:
  std::shared_ptr<DownloadKeeper*> keeper_;
};

class StateHandler final : public ComHandler<abi::ICoreWebView2StateChangedEventHandler> {
 public:
  StateHandler(std::shared_ptr<DownloadKeeper*> keeper, std::shared_ptr<DownloadKeeper::Transfer> transfer)
      : keeper_(std::move(keeper)), transfer_(std::move(transfer)) {}

  HRESULT STDMETHODCALLTYPE Invoke(abi::ICoreWebView2DownloadOperation*, abi::Unknown*) override {
    if (*keeper_ != nullptr) {
      try {
        (*keeper_)->on_state_changed(transfer_);
      } catch (...) {
        // Out of memory: the keeper's destructor cleans up.
      }
    }
    return S_OK;
  }

 private:
  std::shared_ptr<DownloadKeeper*> keeper_;
  std::shared_ptr<DownloadKeeper::Transfer> transfer_;
};

}  // namespace

struct DownloadKeeper::Transfer {
  ComPtr<abi::ICoreWebView2DownloadOperation> operation;
  abi::EventRegistrationToken token{};
  std::string name;     // safe, not numbered yet
  std::wstring folder;  // where it goes
  std::wstring part;    // what the runtime writes

  // The runtime hears no more of the transfer from us, nor we of it.
  void unsubscribe() {
    if (operation) {
      operation->remove_StateChanged(token);
    }
  }
};

std::unique_ptr<DownloadKeeper> DownloadKeeper::attach(abi::ICoreWebView2& webview, Hooks hooks) {
  ComPtr<abi::ICoreWebView2_4> events;
  if (FAILED(webview.QueryInterface(abi::ICoreWebView2_4::iid, reinterpret_cast<void**>(events.put()))) || !events) {
    return nullptr;
  }
  std::unique_ptr<DownloadKeeper> keeper(new DownloadKeeper(std::move(events), std::move(hooks)));
  auto handler = make_handler<StartingHandler>(keeper->self_);
  if (FAILED(keeper->webview_->add_DownloadStarting(handler.get(), &keeper->token_))) {
    return nullptr;
  }
  keeper->subscribed_ = true;
  return keeper;
}

DownloadKeeper::DownloadKeeper(ComPtr<abi::ICoreWebView2_4> webview, Hooks hooks)
    : webview_(std::move(webview)), hooks_(std::move(hooks)) {}

DownloadKeeper::~DownloadKeeper() {
  *self_ = nullptr;
  if (subscribed_) {
    webview_->remove_DownloadStarting(token_);
  }
  for (const std::shared_ptr<Transfer>& transfer : running_) {
    transfer->unsubscribe();
    transfer->operation->Cancel();
    DeleteFileW(transfer->part.c_str());
  }
}

void DownloadKeeper::on_starting(abi::ICoreWebView2DownloadStartingEventArgs& args) {
  // The runtime's choice of path ends in the name the server suggested.
  const std::string suggested = take_string([&](LPWSTR* out) { return args.get_ResultFilePath(out); });
  auto transfer = std::make_shared<Transfer>();
  transfer->name = safe_file_name(file_name_of(suggested));
  transfer->folder = downloads_folder();
  if (transfer->folder.empty() || FAILED(args.get_DownloadOperation(transfer->operation.put())) ||
      !transfer->operation) {
    // Without a folder of ours the runtime saves where it would anyway,
    // and its own list of downloads tells the user.
    return;
  }
  transfer->part = reserve_part(transfer->folder);
  if (transfer->part.empty()) {
    args.put_Cancel(TRUE);
    tell(false, transfer->name, {});
    return;
  }
  running_.push_back(transfer);
  auto handler = make_handler<StateHandler>(self_, transfer);
  if (FAILED(args.put_ResultFilePath(transfer->part.c_str())) ||
      FAILED(transfer->operation->add_StateChanged(handler.get(), &transfer->token))) {
    // Unwatched, a download would stay under its temporary name.
    running_.pop_back();
    args.put_Cancel(TRUE);
    DeleteFileW(transfer->part.c_str());
    tell(false, transfer->name, {});
    return;
  }
  // The notice tells the user; the runtime's list would offer to open the
  // temporary file.
  args.put_Handled(TRUE);
}

void DownloadKeeper::on_state_changed(const std::shared_ptr<Transfer>& transfer) {
  if (std::find(running_.begin(), running_.end(), transfer) == running_.end()) {
    return;  // finished already
  }
  abi::DownloadState state = abi::DownloadState::InProgress;
  if (FAILED(transfer->operation->get_State(&state))) {
    return;
  }
  switch (state) {
    case abi::DownloadState::InProgress:
      return;
    case abi::DownloadState::Interrupted:
      finish(transfer, false);
      return;
    case abi::DownloadState::Completed:
      finish(transfer, true);
      return;
  }
}

void DownloadKeeper::finish(const std::shared_ptr<Transfer>& transfer, bool completed) {
  running_.erase(std::remove(running_.begin(), running_.end(), transfer), running_.end());
  transfer->unsubscribe();
  std::optional<std::string> placed;
  std::wstring path;
  if (completed) {
    // The final name is chosen now, so that a file that appeared during the
    // download is kept too.
    placed = place_numbered(transfer->name, [&](const std::string& candidate) {
      path = transfer->folder + L"\\" + widen(candidate);
      return move_without_replacing(transfer->part, path);
    });
  } else {
    // Nothing resumes it (the runtime's list is hidden): the runtime drops
    // what it kept for resuming.
    transfer->operation->Cancel();
  }
  if (!placed) {
    DeleteFileW(transfer->part.c_str());
  }
  tell(placed.has_value(), placed ? *placed : transfer->name, placed ? path : std::wstring());
}

void DownloadKeeper::tell(bool saved, const std::string& name, const std::wstring& path) {
  const std::uint32_t id = saved ? files_.remember(narrow(path.c_str())) : 0;
  hooks_.run_script(
      download_notice_script(saved ? DownloadOutcome::Saved : DownloadOutcome::Failed, name, id, hooks_.post));
}

bool DownloadKeeper::notice_message(std::string_view message) {
  const std::optional<std::uint32_t> id = parse_notice_message(message);
  if (!id) {
    return false;
  }
  // Page script could post this message too: each notice opens its folder
  // once, and only for the file it names.
  if (const std::optional<std::string> file = files_.take(*id)) {
    // From the engine's queue: the shell must not run a nested loop inside
    // the runtime's event.
    hooks_.later([path = widen(*file), owner = hooks_.owner] { show_in_folder(path, owner); });
  }
  return true;
}

}  // namespace velto::webview
