#include "FilePath.h"

namespace velto::files {

TextView up_to_nul(TextView text) noexcept {
  return text.substr(0, text.find(u'\0'));
}

TextView without_trailing(TextView path, TextView characters) noexcept {
  const std::size_t last = path.find_last_not_of(characters);
  return last == TextView::npos ? TextView() : path.substr(0, last + 1);
}

TextView windows_size_path(TextView path) noexcept {
  return without_trailing(path, u"\\/");
}

bool is_drive_form(TextView path) noexcept {
  return (path.size() == 2 || path.size() == 3) && path[1] == u':';
}

Text drive_root(TextView drive_form) {
  Text root(drive_form);
  if (root.size() == 2) {
    root += u'\\';
  }
  return root;
}

bool needs_attribute_test(TextView path) noexcept {
  return path.starts_with(u"\\\\") || path.starts_with(u"//") || path.starts_with(u"..");
}

TextView windows_directory_path(TextView path) noexcept {
  return without_trailing(path.substr(0, kWindowsPathCapacity), u" \\/");
}

TextView posix_size_path(TextView path) noexcept {
  const TextView stripped = without_trailing(path, u"/");
  return stripped.empty() && !path.empty() ? path.substr(0, 1) : stripped;
}

TextView posix_directory_path(TextView path) noexcept {
  return without_trailing(path, u" /");
}

}  // namespace velto::files
