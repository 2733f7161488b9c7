// The updater's signature: the built-in key's text and Ed25519 verification,
// against the test vectors of RFC 8032 (section 7.1).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "UpdateSignature.h"

namespace velto::app {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<unsigned char>;

Bytes from_hex(std::string_view hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

UpdatePublicKey key_from_hex(std::string_view hex) {
  const Bytes bytes = from_hex(hex);
  UpdatePublicKey key{};
  std::copy(bytes.begin(), bytes.end(), key.begin());
  return key;
}

struct Vector {
  const char* name;
  const char* public_key;
  const char* message;
  const char* signature;
};

// Signatures split as R and S.
const Vector kRfc8032[] = {
    {"TEST 1", "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
     "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"TEST 2", "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
     "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"TEST 3", "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac"
     "18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
    {"TEST SHA(abc)", "ec172b93ad5e563bf4932c70e1245034c35467ef2efd4d64ebf819683467e2bf",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f",
     "dc2a4459e7369633a52b1bf277839a00201009a3efbf3ecb69bea2186c26b589"
     "09351fc9ac90b3ecfdfbc7c66431e0303dca179c138ac17ad9bef1177331a704"},
};

TEST(UpdatePublicKeys, OnlyTheBase64OfThirtyTwoBytesIsAKey) {
  // The public key of TEST 1.
  const auto key = decode_update_public_key("11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=");
  ASSERT_TRUE(key);
  EXPECT_EQ(*key, key_from_hex(kRfc8032[0].public_key));

  struct Case {
    const char* name;
    std::string_view text;
  };
  const Case refused[] = {
      {"empty", ""},
      {"31 bytes", "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHUQ=="},
      {"33 bytes", "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURoA"},
      {"64 bytes (a signature)",
       "5VZDAMNgrHKQhuLMgG6CioSHfx645dl02HPgZSJJAVVfuIIVkKM7rMYeOXAc+bRr0lv18Flbv"
       "iRlUUFDjnoQCw=="},
      {"padding left out", "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo"},
      {"unused bits set", "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURp="},
      {"URL-safe alphabet", "11qYAYKxCrfVS_7TyWQHOg7hcvPapiMlrwIaaPcHURo="},
      {"a character outside base64", "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcH!Ro="},
      {"a line end after it", "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=\n"},
      {"a blank before it", " 11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo="},
      {"a NUL inside", std::string_view("11qYAYKxCrfVS/7TyWQH\0g7hcvPapiMlrwIaaPcHURo=", 44)},
      {"hexadecimal", "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a"},
  };
  for (const Case& c : refused) {
    EXPECT_FALSE(decode_update_public_key(c.text)) << c.name;
  }
}

TEST(UpdateSignatures, TheRfc8032VectorsVerify) {
  for (const Vector& v : kRfc8032) {
    EXPECT_TRUE(update_signature_verifies(key_from_hex(v.public_key), from_hex(v.message), from_hex(v.signature)))
        << v.name;
  }
}

TEST(UpdateSignatures, AnyFlippedBitFails) {
  for (const Vector& v : kRfc8032) {
    SCOPED_TRACE(v.name);
    const UpdatePublicKey key = key_from_hex(v.public_key);
    const Bytes message = from_hex(v.message);
    const Bytes signature = from_hex(v.signature);
    for (std::size_t bit = 0; bit < signature.size() * 8; ++bit) {
      Bytes flipped = signature;
      flipped[bit / 8] = static_cast<unsigned char>(flipped[bit / 8] ^ (1U << (bit % 8)));
      EXPECT_FALSE(update_signature_verifies(key, message, flipped)) << "signature bit " << bit;
    }
    for (std::size_t bit = 0; bit < message.size() * 8; ++bit) {
      Bytes flipped = message;
      flipped[bit / 8] = static_cast<unsigned char>(flipped[bit / 8] ^ (1U << (bit % 8)));
      EXPECT_FALSE(update_signature_verifies(key, flipped, signature)) << "message bit " << bit;
    }
    for (std::size_t bit = 0; bit < key.size() * 8; ++bit) {
      UpdatePublicKey flipped = key;
      flipped[bit / 8] = static_cast<unsigned char>(flipped[bit / 8] ^ (1U << (bit % 8)));
      EXPECT_FALSE(update_signature_verifies(flipped, message, signature)) << "key bit " << bit;
    }
  }
}

TEST(UpdateSignatures, AnotherMessageKeyOrLengthFails) {
  const Vector& two = kRfc8032[1];
  const Vector& three = kRfc8032[2];
  const UpdatePublicKey key = key_from_hex(two.public_key);
  const Bytes message = from_hex(two.message);
  Bytes signature = from_hex(two.signature);
  EXPECT_FALSE(update_signature_verifies(key_from_hex(three.public_key), message, signature));
  EXPECT_FALSE(update_signature_verifies(key, from_hex(three.message), signature));
  Bytes longer = message;
  longer.push_back(0);
  EXPECT_FALSE(update_signature_verifies(key, longer, signature));
  EXPECT_FALSE(update_signature_verifies(key, {}, signature));
  Bytes cut(signature.begin(), signature.end() - 1);
  EXPECT_FALSE(update_signature_verifies(key, message, cut));
  signature.push_back(0);
  EXPECT_FALSE(update_signature_verifies(key, message, signature));
  EXPECT_FALSE(update_signature_verifies(key, message, {}));
}

// The files as the update check has them: the updater and the signature
// downloaded beside it.
class UpdateSignatureFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("velto-signature-" + std::to_string(random()));
    fs::create_directories(dir_);
    write("updater", from_hex(kRfc8032[3].message));
    write("updater.sig", from_hex(kRfc8032[3].signature));
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  void write(const char* name, const Bytes& bytes) const {
    std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
  }

  [[nodiscard]] Text path(const char* name) const { return (dir_ / name).u16string(); }

  [[nodiscard]] bool verifies(std::uint64_t max_bytes = 1024) const {
    return update_file_signature_verifies(key_, path("updater"), path("updater.sig"), max_bytes);
  }

  fs::path dir_;
  UpdatePublicKey key_ = key_from_hex(kRfc8032[3].public_key);
};

TEST_F(UpdateSignatureFiles, TheRawSignatureBesideTheFileVerifies) {
  EXPECT_TRUE(verifies());
  EXPECT_TRUE(verifies(64)) << "the file is exactly at the bound";
}

TEST_F(UpdateSignatureFiles, AFileBeyondTheBoundIsNotRead) {
  EXPECT_FALSE(verifies(63));
}

TEST_F(UpdateSignatureFiles, AnythingButTheSixtyFourRawBytesFails) {
  const Bytes signature = from_hex(kRfc8032[3].signature);
  Bytes with_line_end = signature;
  with_line_end.push_back('\n');
  write("updater.sig", with_line_end);
  EXPECT_FALSE(verifies()) << "a line end after the signature";

  const std::string base64 = "3CpEWec2ljOlKxvyd4OaACAQCaPvvz7Lab6iGGwmtYkJNR/JrJCz7P37x8ZkMeAwPcoXnBOKwXrZvvEXczGnBA==";
  write("updater.sig", Bytes(base64.begin(), base64.end()));
  EXPECT_FALSE(verifies()) << "the signature as base64 text";

  write("updater.sig", Bytes(signature.begin(), signature.end() - 1));
  EXPECT_FALSE(verifies()) << "a signature cut short";

  write("updater.sig", {});
  EXPECT_FALSE(verifies()) << "an empty signature file";

  fs::remove(dir_ / "updater.sig");
  EXPECT_FALSE(verifies()) << "no signature file";
}

TEST_F(UpdateSignatureFiles, AChangedOrMissingFileFails) {
  Bytes changed = from_hex(kRfc8032[3].message);
  changed.back() ^= 0x80;
  write("updater", changed);
  EXPECT_FALSE(verifies());
  fs::remove(dir_ / "updater");
  EXPECT_FALSE(verifies());
}

}  // namespace
}  // namespace velto::app
