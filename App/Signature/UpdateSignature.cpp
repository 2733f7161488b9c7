#include "UpdateSignature.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <exception>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace velto::app {

namespace {

// Read to its end rather than trusting its size up front.
std::optional<std::vector<unsigned char>> read_file_bytes(TextView path, std::uint64_t max_bytes) {
  const std::filesystem::path native(std::u16string{path});
  std::ifstream file(native, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  std::vector<unsigned char> bytes;
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(native, error);
  if (!error) {
    bytes.reserve(static_cast<std::size_t>(std::min<std::uintmax_t>(size, max_bytes)));
  }
  std::array<char, std::size_t{64} * 1024> chunk{};
  while (file) {
    file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<std::size_t>(file.gcount());
    if (got > max_bytes - bytes.size()) {
      return std::nullopt;
    }
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
  }
  if (file.bad()) {
    return std::nullopt;
  }
  return bytes;
}

}  // namespace

std::optional<std::vector<unsigned char>> read_update_file(TextView path, std::uint64_t max_bytes) noexcept {
  try {
    return read_file_bytes(path, max_bytes);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<UpdatePublicKey> decode_update_public_key(std::string_view base64) noexcept {
  UpdatePublicKey key{};
  std::size_t length = 0;
  // Strict: no characters to skip, the padding required, and decoding fails
  // when the text holds more than 32 bytes or leaves unused bits set.
  if (sodium_base642bin(key.data(), key.size(), base64.data(), base64.size(), nullptr, &length, nullptr,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      length != key.size()) {
    return std::nullopt;
  }
  return key;
}

bool update_signature_verifies(const UpdatePublicKey& key, std::span<const unsigned char> message,
                               std::span<const unsigned char> signature) noexcept {
  static_assert(kUpdatePublicKeySize == crypto_sign_PUBLICKEYBYTES && kUpdateSignatureSize == crypto_sign_BYTES);
  if (signature.size() != kUpdateSignatureSize || sodium_init() < 0) {
    return false;
  }
  // An empty message still needs a valid pointer.
  static constexpr unsigned char kNothing = 0;
  const unsigned char* data = message.empty() ? &kNothing : message.data();
  return crypto_sign_verify_detached(signature.data(), data, message.size(), key.data()) == 0;
}

bool update_file_signature_verifies(const UpdatePublicKey& key, TextView path, TextView signature_path,
                                    std::uint64_t max_bytes) noexcept {
  try {
    const auto signature = read_file_bytes(signature_path, kUpdateSignatureSize);
    if (!signature || signature->size() != kUpdateSignatureSize) {
      return false;
    }
    const auto message = read_file_bytes(path, max_bytes);
    return message && update_signature_verifies(key, *message, *signature);
  } catch (const std::exception&) {
    // Memory short for a large file: it does not verify.
    return false;
  }
}

}  // namespace velto::app
