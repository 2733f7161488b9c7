#include "UpdateCheck.h"

#include <cstdint>

#include "Application.h"
#include "Core/Strings.h"
#include "Http/Http.h"
#include "Platform.h"
#include "ProgramFile.h"
#include "Preference/Preference.h"
#include "System/Files.h"
#include "System/Process.h"
#include "UpdateSignature.h"
#include "Window/Window.h"

namespace velto::app {

namespace {

constexpr char16_t kDescriptorPath[] = u"/uploads/chat_files/velto_web-chat_client.ini";
constexpr char16_t kDescriptorCopyName[] = u"velto_chat_version.ini";
constexpr char16_t kQuestionTitle[] = u"Доступно обновление!";
constexpr char16_t kQuestionText[] = u"Доступна новая версия приложения! Выполнить обновление?";
constexpr std::uint32_t kYesNoInformation = 68;  // MB_YESNO | MB_ICONINFORMATION
constexpr int kAnswerYes = 6;
// Gives a freshly written updater a moment before it is started.
constexpr int kUpdaterSettleMs = 500;
// The check runs before the window opens: a server that drips or floods its
// answer must not keep the user from the chat. A real descriptor is one
// line; the updater a few MiB. Reasons in docs/platforms.md.
constexpr HttpLimits kDescriptorLimits{64 * 1024, 15000};
constexpr HttpLimits kUpdaterLimits{std::int64_t{256} * 1024 * 1024, 0};
// The signature is 64 raw bytes; anything longer is not one.
constexpr HttpLimits kSignatureLimits{static_cast<std::int64_t>(kUpdateSignatureSize), 15000};
constexpr char16_t kSignatureSuffix[] = u".sig";
// The build setting VELTO_UPDATE_PUBLIC_KEY; empty when updates are not signed.
constexpr char kUpdatePublicKey[] = VELTO_UPDATE_PUBLIC_KEY;
constexpr bool kUpdatesSigned = sizeof kUpdatePublicKey > 1;

Text server_url(TextView path) {
  return Text(u"https://") + kServerHost + Text(path);
}

// The version the update server publishes, or empty text.
Text published_version() {
  const Text copy = platform::descriptor_copy_path(temp_directory() + kDescriptorCopyName);
  if (!http_receive_file(server_url(kDescriptorPath), copy, 0, {}, kDescriptorLimits)) {
    return {};
  }
  Text version;
  if (file_size(copy) >= 0 && prefs_open(copy)) {
    version = prefs_read_string(u"chatvers", u"");
    prefs_close();
  }
  file_delete(copy);
  return version;
}

// Whether the updater at `path` carries the release key's signature, fetched
// fresh from beside the updater on the server. Every failure (no signature
// there, a malformed key) answers false.
bool updater_signature_verifies(const Text& path) {
  const auto key = decode_update_public_key(kUpdatePublicKey);
  if (!key) {
    return false;
  }
  const Text signature = path + kSignatureSuffix;
  const bool verified =
      http_receive_file(server_url(Text(platform::updater_remote_path()) + kSignatureSuffix), signature,
                        HTTP_FAIL_ON_ERROR_STATUS, {}, kSignatureLimits) &&
      update_file_signature_verifies(*key, path, signature, static_cast<std::uint64_t>(kUpdaterLimits.max_bytes));
  file_delete(signature);
  return verified;
}

// Whether the updater may be kept: a program, and with a built-in key one
// that the key's signature vouches for.
bool updater_acceptable(const Text& path) {
  return is_program_file(path) && (!kUpdatesSigned || updater_signature_verifies(path));
}

}  // namespace

int update_check() {
  const Text remote = published_version();
  if (remote.empty() || version_compare(remote, values().version) <= 0) {
    return 0;
  }
  if (message_box(kQuestionTitle, kQuestionText, kYesNoInformation) != kAnswerYes) {
    return 0;
  }
  const AppValues& app = values();
  if (file_size(app.updater_dir) != -2) {
    dir_create(app.updater_dir);
  }
  // Only a program is kept as the updater: anything else (an error page, a
  // server's placeholder) would be started, or opened, at every later start.
  // With a key, a kept one must verify against the signature served now: a
  // file changed on disk, or one the server no longer vouches for, is
  // replaced. One that cannot be removed is never started.
  if (file_size(app.updater_path) > 0 && !updater_acceptable(app.updater_path) && !file_delete(app.updater_path)) {
    return 0;
  }
  if (file_size(app.updater_path) <= 0) {
    if (!http_receive_file(server_url(platform::updater_remote_path()), app.updater_path, HTTP_FAIL_ON_ERROR_STATUS, {},
                           kUpdaterLimits)) {
      return 0;
    }
    if (!updater_acceptable(app.updater_path)) {
      file_delete(app.updater_path);
      return 0;
    }
    platform::prepare_updater(app.updater_path);
    delay_ms(kUpdaterSettleMs);
  }
  TempScope scope;
  const Text parameters = Text(u"\"") + program_path() + u"\" " + server_url(platform::package_remote_path()) + u" " +
                          Text(str_from_int(platform::process_id()));
  if (process_run(app.updater_path, parameters, {})) {
    app_end();
  }
  return 0;
}

}  // namespace velto::app
