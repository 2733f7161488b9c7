#pragma once

// What a view answers when a page asks for a permission. Decisions only;
// the backends ask with the origin of the page that made the request.

#include <cstdint>
#include <optional>
#include <string_view>

#include "Browsing.h"

namespace velto::webview {

enum class PermissionKind : std::uint8_t {
  Notifications,
  Other,  // camera, location, clipboard, ...
};

enum class PermissionVerdict : std::uint8_t {
  Grant,
  Deny,
  Default,  // the browser's own answer
};

// With a home, notifications are granted to pages of the home's origin and
// denied to every other page. Without a home, and for every other kind,
// the browser answers as it would by itself.
[[nodiscard]] PermissionVerdict judge_permission(PermissionKind kind, std::string_view page_url,
                                                 const std::optional<Origin>& home);

}  // namespace velto::webview
