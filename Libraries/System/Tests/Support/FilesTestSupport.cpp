#include "FilesTestSupport.h"

#include <fstream>
#include <string>

namespace velto::testing {

namespace fs = std::filesystem;

void write_file(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void FilesTest::SetUp() {
  ASSERT_FALSE(sandbox_.root().empty()) << "no private directory";
}

fs::path FilesTest::native(std::string_view name) const {
  return (sandbox_.root() / fs::path(std::u8string(name.begin(), name.end()))).make_preferred();
}

Text FilesTest::path(std::string_view name) const {
  return text_of(native(name));
}

}  // namespace velto::testing
