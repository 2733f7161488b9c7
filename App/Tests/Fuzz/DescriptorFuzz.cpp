// libFuzzer target: an update descriptor as any server might send it, read
// the way the update check reads it, and the versions it names compared.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Core/Heap.h"
#include "Core/Strings.h"
#include "PrefsText.h"
#include "UpdateCheck.h"

namespace {

using namespace velto;

void check(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

// "chatvers" of the leading section, trimmed as prefs_read_string trims.
Text published(std::vector<char>& text, std::size_t size) {
  prefs_list entries;
  prefs_parse({text.data(), size}, entries);
  const prefs_lookup hit = prefs_lookup_key(entries, entries.begin(), "chatvers");
  if (!hit.found) {
    return {};
  }
  Text version = from_utf8(prefs_skip_blanks(hit.entry->text_view()));
  while (!version.empty() && (version.back() == u' ' || version.back() == u'\t')) {
    version.pop_back();
  }
  return version;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  program_heap_create();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  text.push_back('\0');
  const Text remote = published(text, size);
  const int against_ours = app::version_compare(remote, u"0.2.16.38");
  check(against_ours >= -1 && against_ours <= 1);
  check(app::version_compare(u"0.2.16.38", remote) == -against_ours);
  check(app::version_compare(remote, remote) == 0);

  // The input's two halves as versions of their own.
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const Text a = from_utf8(bytes.substr(0, size / 2));
  const Text b = from_utf8(bytes.substr(size / 2));
  check(app::version_compare(a, b) == -app::version_compare(b, a));
  return 0;
}
