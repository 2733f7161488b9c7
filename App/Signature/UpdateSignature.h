#pragma once

// Signed updates: the updater must carry a detached Ed25519 signature by the
// release key whose public half is built into the client. Every failure (a
// malformed key, a short or unreadable file) answers "does not verify".

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "Core/Types.h"

namespace velto::app {

inline constexpr std::size_t kUpdatePublicKeySize = 32;
inline constexpr std::size_t kUpdateSignatureSize = 64;

using UpdatePublicKey = std::array<unsigned char, kUpdatePublicKeySize>;

// The key from the base64 text of its 32 raw bytes (standard alphabet, with
// its padding, nothing before or after); nothing for any other text.
[[nodiscard]] std::optional<UpdatePublicKey> decode_update_public_key(std::string_view base64) noexcept;

// Whether `signature` (64 bytes) is the key's Ed25519 signature of `message`.
[[nodiscard]] bool update_signature_verifies(const UpdatePublicKey& key, std::span<const unsigned char> message,
                                             std::span<const unsigned char> signature) noexcept;

// The same for the file at `path` and the signature file at `signature_path`,
// which holds exactly the 64 raw bytes. A file larger than `max_bytes` is not
// read and does not verify.
[[nodiscard]] bool update_file_signature_verifies(const UpdatePublicKey& key, TextView path, TextView signature_path,
                                                  std::uint64_t max_bytes) noexcept;

// The whole file at `path`; nothing when it cannot be read, memory is short
// or it holds more than `max_bytes`.
[[nodiscard]] std::optional<std::vector<unsigned char>> read_update_file(TextView path,
                                                                         std::uint64_t max_bytes) noexcept;

}  // namespace velto::app
