#include "Update.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#include "Archive.h"
#include "Arguments.h"
#include "Http/Http.h"
#include "UpdateSignature.h"
#include "UpdaterBackend.h"

namespace velto::updater {

void report(std::string_view message) noexcept {
  std::fprintf(stderr, "updater: %.*s\n", static_cast<int>(message.size()), message.data());
  std::fflush(stderr);
}

namespace {

// The client ends right after starting the updater; one that has not ended
// by then is stuck, and installing over it would fail or corrupt it.
constexpr int kClientExitWaitMs = 60000;
// As for the updater in the client: far above a real package, still bounded.
constexpr std::uint64_t kPackageMaxBytes = std::uint64_t{256} * 1024 * 1024;
constexpr HttpLimits kPackageLimits{static_cast<std::int64_t>(kPackageMaxBytes), 0};
constexpr HttpLimits kSignatureLimits{static_cast<std::int64_t>(app::kUpdateSignatureSize), 15000};
constexpr char16_t kSignatureSuffix[] = u".sig";
constexpr char16_t kPackageName[] = u"package";
// The build setting VELTO_UPDATE_PUBLIC_KEY; empty when updates are not signed.
constexpr char kUpdatePublicKey[] = VELTO_UPDATE_PUBLIC_KEY;
constexpr bool kUpdatesSigned = sizeof kUpdatePublicKey > 1;

ExitCode fail(std::string_view message) {
  report(message);
  return ExitCode::kFailed;
}

// Removes the work directory at the end, unless it was handed on.
class WorkDirectory {
 public:
  explicit WorkDirectory(Text path) : path_(std::move(path)) {}
  ~WorkDirectory() {
    if (!keep_) {
      std::error_code ignored;
      std::filesystem::remove_all(std::filesystem::path(path_), ignored);
    }
  }
  WorkDirectory(const WorkDirectory&) = delete;
  WorkDirectory& operator=(const WorkDirectory&) = delete;

  const Text& path() const { return path_; }
  void keep() { keep_ = true; }

 private:
  Text path_;
  bool keep_ = false;
};

// With a built-in key, the package's bytes must carry its signature, fetched
// from beside the package. Without one nothing is fetched.
bool package_signature_verifies(const Arguments& arguments, const WorkDirectory& work, Bytes package) {
  if (!kUpdatesSigned) {
    return true;
  }
  const auto key = app::decode_update_public_key(kUpdatePublicKey);
  const Text file = work.path() + kPackageName + kSignatureSuffix;
  if (!key || !http_receive_file(arguments.package_url + kSignatureSuffix, file, HTTP_FAIL_ON_ERROR_STATUS, {},
                                 kSignatureLimits)) {
    return false;
  }
  const auto signature = app::read_update_file(file, app::kUpdateSignatureSize);
  return signature && app::update_signature_verifies(*key, package, *signature);
}

// The installer inside the package, or an empty view after saying why not.
// `holder` keeps the bytes of an unpacked tar.
Bytes installer_bytes(const backend::PackageFormat& format, Bytes package, std::vector<unsigned char>& holder) {
  Bytes archive = package;
  if (format.kind == backend::PackageKind::kTarGz) {
    auto unpacked = gunzip(package, kPackageMaxBytes);
    if (!unpacked) {
      report("the package is not a whole gzip stream within the size limit");
      return {};
    }
    holder = std::move(*unpacked);
    archive = holder;
  }
  const ArchiveEntry entry = format.kind == backend::PackageKind::kTarGz
                                 ? tar_single_entry(archive, format.entry_suffix)
                                 : zip_single_entry(archive, format.entry_suffix);
  if (entry.error != ArchiveError::kNone) {
    report(archive_error_text(entry.error));
    return {};
  }
  if (entry.data.empty()) {
    report("the installer in the package is empty");
  }
  return entry.data;
}

bool write_file(const Text& path, Bytes bytes) {
  std::ofstream out(std::filesystem::path(std::u16string(path)), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

ExitCode update(const Arguments& arguments) {
  if (!backend::wait_for_exit(arguments.client_pid, kClientExitWaitMs)) {
    return fail("the client did not end; nothing was installed");
  }
  const auto directory = backend::make_work_directory();
  if (!directory) {
    return fail("cannot make a working directory");
  }
  WorkDirectory work(*directory);
  const backend::PackageFormat format = backend::package_format();
  const Text package_file = work.path() + kPackageName;
  if (!http_receive_file(arguments.package_url, package_file, HTTP_FAIL_ON_ERROR_STATUS, {}, kPackageLimits)) {
    return fail("cannot download the package");
  }
  const auto package = app::read_update_file(package_file, kPackageMaxBytes);
  if (!package) {
    return fail("cannot read the downloaded package");
  }
  if (!package_signature_verifies(arguments, work, *package)) {
    return fail("the package's signature is missing or does not verify");
  }
  std::vector<unsigned char> unpacked;
  const Bytes installer = installer_bytes(format, *package, unpacked);
  const Text installer_file = work.path() + Text(format.installer_name);
  if (installer.empty() || !write_file(installer_file, installer)) {
    return fail("no installer to run");
  }
  const backend::InstallOutcome outcome = backend::install(installer_file, work.path());
  if (outcome == backend::InstallOutcome::kFailed) {
    return fail("the installer failed");
  }
  if (outcome == backend::InstallOutcome::kHandedToDesktop) {
    work.keep();  // the desktop's installer still reads it
  }
  if (!backend::start_client(arguments.client_path)) {
    return fail("installed, but the client cannot be started again");
  }
  if (outcome == backend::InstallOutcome::kHandedToDesktop) {
    report("no installer could be run here: the package was opened with the desktop's handler");
    return ExitCode::kHandedToDesktop;
  }
  return ExitCode::kUpdated;
}

}  // namespace

ExitCode run_update(std::span<const Text> arguments) noexcept {
  try {
    const auto parsed = parse_arguments(arguments);
    if (!parsed) {
      report("usage: updater \"<client path>\" <https package URL> <client process id>");
      return ExitCode::kUsage;
    }
    http_library_init();
    return update(*parsed);
  } catch (const std::exception&) {
    return fail("out of memory");
  }
}

}  // namespace velto::updater
