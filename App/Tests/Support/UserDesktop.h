#pragma once

// A test user's desktop for the client's end-to-end tests: a home folder of
// its own, XDG directories, and stand-ins for the default browser and the
// file manager (registered through mimeapps.list, as a user's would be) that
// only note what they were asked to open. The client runs on it and shows
// the local server's chat page, which reports where its elements are so
// that they can be clicked as a user would.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Desktop.h"

namespace velto::testing {

class UserDesktop {
 public:
  UserDesktop();

  [[nodiscard]] std::string home() const { return root_.path() + "/home"; }
  [[nodiscard]] std::string config() const { return root_.path() + "/config"; }
  // HOME and the XDG directories, for the client's environment.
  [[nodiscard]] std::vector<std::string> environment() const;
  // Writes user-dirs.dirs with this download folder ("$HOME/..." works).
  void set_download_folder(const std::string& value) const;

  // What the stand-ins were given, one argument a line, in order.
  [[nodiscard]] std::vector<std::string> browsed() const;
  [[nodiscard]] std::vector<std::string> folders_shown() const;

 private:
  TempDir root_;
};

// `text` for a URL's path or query: everything but letters, digits and
// "-._~" percent-encoded.
[[nodiscard]] std::string url_encoded(const std::string& text);

// Where the page last reported the element named `label`, in page pixels.
[[nodiscard]] std::optional<Geometry> reported_position(const std::string& label);
[[nodiscard]] std::size_t beacon_count(const std::string& event);
// Whether a beacon `event` was recorded whose id contains `part`.
[[nodiscard]] bool beacon_containing(const std::string& event, const std::string& part);

// The real client on a UserDesktop, showing the chat page.
class ChatClient {
 public:
  explicit ChatClient(const UserDesktop& desktop);
  // Why it is not showing the chat page, or nothing.
  [[nodiscard]] const std::optional<std::string>& failure() const { return failure_; }

  // Clicks the element the page reported as `label` in its middle with the
  // mouse `button`; false when it was never reported.
  bool click(const std::string& label, int button = 1);
  // Opens the element's context menu and chooses its `item`th entry (from 1)
  // with the keyboard; false when no menu showed.
  bool choose_from_menu(const std::string& label, int item);
  // Has a message arrive from someone else; true when the page passed it on
  // to the client: the page is still the chat page, and it still answers.
  bool chat_answers();
  // Closes the window; the client's exit code, if it ended.
  std::optional<int> close();

 private:
  std::unique_ptr<ChildProcess> process_;
  unsigned long window_ = 0;
  std::optional<std::string> failure_;
};

}  // namespace velto::testing
