#include "Preference/Preference.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "Core/Strings.h"
#include "PreferenceInternal.h"
#include "PrefsFile.h"
#include "PrefsText.h"

namespace velto {

namespace {

constexpr int kEncodingAnsi = 0;
constexpr int kEncodingUtf8 = 65001;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

struct prefs_state {
  platform::PrefsFile file;
  // Where changes are written: the file prefs_create named, the file
  // prefs_open could open for writing, or the one it did not find (created
  // then). Absent for a file that could only be read, or not read whole:
  // its changes are dropped rather than written over it.
  std::optional<Text> write_path;
  bool dirty = false;
  // The decoded text, NUL-terminated; entries read from the file point into it.
  std::unique_ptr<char[]> content;
  std::size_t content_end = 0;
  int encoding = kEncodingAnsi;
  prefs_list entries;
  // The group whose section is read and written; no operation sets it, so
  // the leading section (before the first group line) is the one used.
  const prefs_entry* current_group = nullptr;
  const prefs_entry* last_written = nullptr;
};

prefs_state& prefs() noexcept {
  static prefs_state state;
  return state;
}

bool file_is_open(const prefs_state& state) noexcept {
  return state.file.is_open() || state.write_path.has_value();
}

// Runtime text ends at its first NUL.
TextView until_nul(TextView text) noexcept {
  return text.substr(0, text.find(u'\0'));
}

std::unique_ptr<char[]> new_block(std::uint64_t size) noexcept {
  if (size > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max())) {
    return nullptr;
  }
  return std::unique_ptr<char[]>(new (std::nothrow) char[static_cast<std::size_t>(size)]);
}

std::size_t read_all(const platform::PrefsFile& file, char* buffer, std::size_t size) noexcept {
  std::size_t done = 0;
  while (done < size) {
    const std::size_t got = platform::prefs_file_read(file, buffer + done, size - done);
    if (got == 0) {
      break;
    }
    done += got;
  }
  return done;
}

// Reads the open file into the content buffer and parses it. false when the
// file could not be taken in whole. Throws std::bad_alloc from the parser.
bool prefs_load(prefs_state& state) {
  // Only the low 32 bits of the size count, as GetFileSize answers them.
  auto size = static_cast<std::uint32_t>(platform::prefs_file_size(state.file));
  state.encoding = kEncodingAnsi;
  // Shorter files are never taken for UTF-8 with a mark.
  if (size >= kUtf8Mark.size()) {
    char mark[3] = {};
    if (read_all(state.file, mark, sizeof mark) == sizeof mark && std::string_view(mark, sizeof mark) == kUtf8Mark) {
      state.encoding = kEncodingUtf8;
      size -= 3;
    } else if (!platform::prefs_file_rewind(state.file)) {
      return false;
    }
  }
  if (size == 0) {
    return true;
  }

  bool complete = true;
  std::size_t length = 0;
  if (state.encoding == kEncodingUtf8) {
    state.content = new_block(std::uint64_t{size} + 2);
    if (!state.content) {
      return false;
    }
    length = read_all(state.file, state.content.get(), size);
    complete = length == size;
  } else {
    std::string decoded;
    {
      const std::unique_ptr<char[]> raw = new_block(size);
      if (!raw) {
        return false;
      }
      const std::size_t got = read_all(state.file, raw.get(), size);
      complete = got == size;
      std::string_view bytes(raw.get(), got);
      bytes = bytes.substr(0, bytes.find('\0'));
      if (!platform::prefs_ansi_to_utf8(bytes, decoded)) {
        return false;
      }
    }
    state.content = new_block(std::uint64_t{decoded.size()} + 2);
    if (!state.content) {
      return false;
    }
    length = decoded.size();
    std::memcpy(state.content.get(), decoded.data(), length);
    state.encoding = kEncodingUtf8;
  }
  state.content[length] = '\0';
  state.content[length + 1] = '\0';
  state.content_end = length;
  prefs_parse({state.content.get(), length}, state.entries);
  return complete;
}

prefs_list::iterator section_start(prefs_state& state) noexcept {
  if (state.current_group) {
    for (auto it = state.entries.begin(); it != state.entries.end(); ++it) {
      if (&*it == state.current_group) {
        return std::next(it);
      }
    }
  }
  return state.entries.begin();
}

}  // namespace

void prefs_library_init() noexcept {
  prefs() = prefs_state{};
}

int prefs_open(TextView path) noexcept {
  prefs_close();
  prefs_state& state = prefs();
  path = until_nul(path);

  using platform::PrefsAccess;
  state.file = platform::prefs_file_open(path, PrefsAccess::read_write);
  bool writable = state.file.is_open();
  if (!state.file.is_open()) {
    state.file = platform::prefs_file_open(path, PrefsAccess::read_only);
    if (!state.file.is_open()) {
      state.file = platform::prefs_file_open(path, PrefsAccess::read_only_share_write);
    }
  }
  if (!state.file.is_open()) {
    state.encoding = kEncodingUtf8;
    try {
      state.write_path.emplace(path);
    } catch (const std::exception&) {
      // Without the name the state stays closed.
      state = prefs_state{};
    }
    return 0;
  }

  bool complete = false;
  try {
    complete = prefs_load(state);
  } catch (const std::exception&) {
    state.entries.clear();
  }
  // Text that could not be read whole must never be written back over the
  // file: changes are dropped as for a read-only file.
  if (writable && complete) {
    try {
      state.write_path.emplace(path);
    } catch (const std::exception&) {
      // Then its changes are dropped as well.
    }
  }
  return 1;
}

int prefs_create(TextView path) noexcept {
  prefs_close();
  prefs_state& state = prefs();
  path = until_nul(path);
  // The old file stays whole until the new content replaces it at close.
  if (!platform::prefs_file_replaceable(path)) {
    return 0;
  }
  try {
    state.write_path.emplace(path);
  } catch (const std::exception&) {
    return 0;
  }
  state.encoding = kEncodingUtf8;
  state.dirty = true;
  return 1;
}

std::optional<std::string_view> prefs_find(TextView key) {
  prefs_state& state = prefs();
  if (!file_is_open(state)) {
    return std::nullopt;
  }
  const std::string wanted = to_utf8(until_nul(key));
  const prefs_lookup hit = prefs_lookup_key(state.entries, section_start(state), wanted);
  if (!hit.found) {
    return std::nullopt;
  }
  return hit.entry->text_view();
}

char* prefs_set(TextView key, std::size_t length) noexcept {
  prefs_state& state = prefs();
  if (!file_is_open(state) || length == std::numeric_limits<std::size_t>::max()) {
    return nullptr;
  }
  try {
    const std::string wanted = to_utf8(until_nul(key));
    const prefs_lookup hit = prefs_lookup_key(state.entries, section_start(state), wanted);
    prefs_entry* entry = nullptr;
    if (hit.found) {
      entry = &*hit.entry;
      // Equal keys have equal lengths, so the caller's spelling fits in place.
      if (!wanted.empty()) {
        std::memcpy(entry->key.data(), wanted.data(), wanted.size());
      }
      if (entry->text.data() != nullptr && entry->text.size() >= length) {
        // The old value's space takes the new one.
        entry->text = entry->text.first(length);
      } else {
        std::unique_ptr<char[]> block = new_block(std::uint64_t{length} + 1);
        if (!block) {
          return nullptr;
        }
        // A value that lay in the content buffer simply stays there unused.
        entry->text_block = std::move(block);
        entry->text = {entry->text_block.get(), length};
      }
    } else {
      prefs_entry fresh;
      fresh.key_block = new_block(std::uint64_t{wanted.size()} + 1);
      fresh.text_block = new_block(std::uint64_t{length} + 1);
      if (!fresh.key_block || !fresh.text_block) {
        return nullptr;
      }
      std::memcpy(fresh.key_block.get(), wanted.c_str(), wanted.size() + 1);
      fresh.key = {fresh.key_block.get(), wanted.size()};
      fresh.text = {fresh.text_block.get(), length};
      entry = &*state.entries.insert(hit.section_end, std::move(fresh));
    }
    state.last_written = entry;
    state.dirty = true;
    return entry->text.data();
  } catch (const std::exception&) {
    return nullptr;
  }
}

void prefs_flush() noexcept {
  prefs_state& state = prefs();
  if (!state.dirty) {
    return;
  }
  state.dirty = false;
  if (!state.write_path) {
    // A file that could only be read: its changes are lost.
    return;
  }
  // Everything is in memory by now, and Windows replaces no file that is
  // still open.
  state.file.close();
  const bool utf8_mark = state.encoding == kEncodingUtf8;
  if (const std::optional<std::size_t> size = prefs_output_size(state.entries, utf8_mark)) {
    if (const std::unique_ptr<char[]> buffer = new_block(std::uint64_t{*size} + 1)) {
      prefs_write_layout(state.entries, utf8_mark, {buffer.get(), *size});
      // A failed write leaves the old file as it was; nobody is told.
      static_cast<void>(platform::prefs_file_write_whole(*state.write_path, {buffer.get(), *size}));
    }
  }
}

Text prefs_read_string(TextView key, TextView default_value) noexcept {
  try {
    const std::optional<std::string_view> value = prefs_find(key);
    if (!value) {
      return Text(default_value);
    }
    Text text = from_utf8(prefs_skip_blanks(*value));
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) {
      text.pop_back();
    }
    return text;
  } catch (const std::exception&) {
    return Text();
  }
}

int prefs_read_int(TextView key, int default_value) noexcept {
  try {
    const std::optional<std::string_view> value = prefs_find(key);
    return value ? prefs_parse_int(*value) : default_value;
  } catch (const std::exception&) {
    return default_value;
  }
}

void prefs_write_int(TextView key, int value) noexcept {
  char digits[12];
  const std::to_chars_result formatted = std::to_chars(digits, digits + sizeof digits, value);
  const auto length = static_cast<std::size_t>(formatted.ptr - digits);
  if (char* buffer = prefs_set(key, length)) {
    std::memcpy(buffer, digits, length);
  }
}

void prefs_close() noexcept {
  prefs_flush();
  // Releases the content buffer, every entry and the pending name, and
  // closes the file.
  prefs() = prefs_state{};
}

}  // namespace velto
