#pragma once

// Where a download is saved and how the user hears of it: the file's name
// from what the server suggested, the numbering that keeps existing files,
// and the notice shown in the page. The backends do the file system work.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace velto::webview {

// The longest name safe_file_name gives, in UTF-8 bytes: room is left for a
// number and for file systems that count UTF-16 units (255 on both).
inline constexpr std::size_t kMaxFileNameBytes = 200;

// The name given when nothing usable is left of the suggested one.
inline constexpr std::string_view kFallbackFileName = "download";

// A file name that is safe in any folder on Linux and on Windows and means
// the same on both: no path separators, no characters Windows refuses
// (< > : " | ? *), no control or direction-changing characters (they could
// disguise the extension), no leading dots (no hidden files, no "..") and no
// trailing dots or blanks, no reserved device name (CON, NUL, COM1, ...),
// valid UTF-8, at most kMaxFileNameBytes long with its extension kept.
[[nodiscard]] std::string safe_file_name(std::string_view suggested);

// Where the extension of `name` starts: at its last dot, or at ".tar" for
// "x.tar.gz" and the like, so that a numbered archive stays an archive.
// name.size() when it has none (a "dot part" with blanks or longer than 12
// bytes is no extension).
[[nodiscard]] std::size_t extension_start(std::string_view name);

// `name` for number 0, else with " (number)" before its extension:
// "report (1).pdf", "archive (2).tar.gz", "README (3)".
[[nodiscard]] std::string numbered_file_name(std::string_view name, int number);

// How many numbered names place_numbered tries after the name itself.
inline constexpr int kMaxFileNumber = 999;

enum class Placement : std::uint8_t {
  Placed,  // the file now has this name
  Taken,   // a file of this name exists: try the next number
  Failed,  // no point in trying another name
};

// Offers `name`, then "name (1)", "name (2)", ... to `place` until it takes
// one; that name, or nullopt when it failed or every number was taken.
[[nodiscard]] std::optional<std::string> place_numbered(std::string_view name,
                                                        const std::function<Placement(const std::string&)>& place);

enum class DownloadOutcome : std::uint8_t {
  Saved,
  Failed,
};

// Page script that shows a short notice in the corner of the page, in
// Russian with English beneath: the file was saved (with a button that
// opens its folder) or could not be downloaded. A newer notice replaces an
// older one. `post` is a script expression of a function that takes one
// string to the program; the button posts notice_message(id) through it,
// for trusted clicks only.
[[nodiscard]] std::string download_notice_script(DownloadOutcome outcome, std::string_view file_name, std::uint32_t id,
                                                 std::string_view post);

// The message the notice's button posts, and the notice it names.
[[nodiscard]] std::string notice_message(std::uint32_t id);
[[nodiscard]] std::optional<std::uint32_t> parse_notice_message(std::string_view message);

// What the most recent notices' buttons open (a folder, a file), by the
// notice's id; older ones are forgotten.
class NoticeTargets {
 public:
  static constexpr std::size_t kRemembered = 16;

  // The id of a new notice that opens `target`.
  std::uint32_t remember(std::string target);
  [[nodiscard]] std::optional<std::string> find(std::uint32_t id) const;
  // As find, and the id counts no more.
  std::optional<std::string> take(std::uint32_t id);

 private:
  std::map<std::uint32_t, std::string> targets_;
  std::uint32_t next_ = 1;
};

// The last part of a path, after its last '/' or '\\': what a browser that
// chose a path of its own suggested as the file's name.
[[nodiscard]] std::string_view file_name_of(std::string_view path);

}  // namespace velto::webview
