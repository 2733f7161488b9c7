#pragma once

// Shared by the file tests of both platforms: a private directory to work in
// and paths inside it.

#include <gtest/gtest.h>

#include <filesystem>
#include <string_view>

#include "Core/Types.h"
#include "SystemTestSupport.h"

namespace velto::testing {

#if defined(_WIN32)
inline constexpr char16_t kSeparator = u'\\';
#else
inline constexpr char16_t kSeparator = u'/';
#endif

void write_file(const std::filesystem::path& path, std::string_view bytes);

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // `name` inside the private directory, with the platform's separators.
  [[nodiscard]] Text path(std::string_view name) const;
  [[nodiscard]] std::filesystem::path native(std::string_view name) const;
  [[nodiscard]] const std::filesystem::path& root() const { return sandbox_.root(); }

 private:
  Sandbox sandbox_;
};

}  // namespace velto::testing
