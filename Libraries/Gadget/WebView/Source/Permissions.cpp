#include "Permissions.h"

namespace velto::webview {

PermissionVerdict judge_permission(PermissionKind kind, std::string_view page_url, const std::optional<Origin>& home) {
  if (kind != PermissionKind::Notifications || !home) {
    return PermissionVerdict::Default;
  }
  const std::optional<Origin> page = url_origin(page_url);
  return page && *page == *home ? PermissionVerdict::Grant : PermissionVerdict::Deny;
}

}  // namespace velto::webview
