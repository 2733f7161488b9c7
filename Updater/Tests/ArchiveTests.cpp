#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Archive.h"
#include "ArchiveBuilder.h"

#ifndef _WIN32
#include <zlib.h>
#endif

namespace velto::updater {
namespace {

using test::ByteVector;
using test::make_tar;
using test::make_zip;
using test::TarMember;
using test::ZipMember;

std::string text_of(Bytes data) {
  return {reinterpret_cast<const char*>(data.data()), data.size()};
}

// --- tar -------------------------------------------------------------------

TEST(TarSingleEntry, FindsTheOneDebAmongOtherEntries) {
  const ByteVector tar = make_tar({{"pkg/", "", '5'}, {"README", "hello"}, {"pkg/velto_1.deb", "the package"}});
  const ArchiveEntry entry = tar_single_entry(tar, ".deb");
  ASSERT_EQ(entry.error, ArchiveError::kNone);
  EXPECT_EQ(entry.name, "pkg/velto_1.deb");
  EXPECT_EQ(text_of(entry.data), "the package");
}

TEST(TarSingleEntry, JoinsTheUstarPrefixAndIgnoresCase) {
  const ByteVector tar = make_tar({{"velto.DEB", std::string(1500, 'x'), '0', "dir"}});
  const ArchiveEntry entry = tar_single_entry(tar, ".deb");
  ASSERT_EQ(entry.error, ArchiveError::kNone);
  EXPECT_EQ(entry.name, "dir/velto.DEB");
  EXPECT_EQ(entry.data.size(), 1500U);
}

TEST(TarSingleEntry, RefusesHostileArchives) {
  struct Case {
    const char* what;
    std::vector<TarMember> members;
    ArchiveError expected;
  };
  const std::vector<Case> cases = {
      {"no deb", {{"velto.rpm", "x"}}, ArchiveError::kNoCandidate},
      {"a deb as a directory name", {{"velto.deb/", "", '5'}}, ArchiveError::kNoCandidate},
      {"just the suffix", {{".deb", "x"}}, ArchiveError::kNoCandidate},
      {"two debs", {{"a.deb", "x"}, {"b.deb", "y"}}, ArchiveError::kSeveral},
      {"climbing out", {{"../velto.deb", "x"}}, ArchiveError::kUnsafeName},
      {"climbing out elsewhere", {{"velto.deb", "x"}, {"a/../../etc/passwd", "x"}}, ArchiveError::kUnsafeName},
      {"backslash climbing", {{"a\\..\\..\\velto.deb", "x"}}, ArchiveError::kUnsafeName},
      {"absolute", {{"/var/velto.deb", "x"}}, ArchiveError::kUnsafeName},
      {"drive letter", {{"C:velto.deb", "x"}}, ArchiveError::kUnsafeName},
      {"absolute through the prefix", {{"velto.deb", "x", '0', "/etc"}}, ArchiveError::kUnsafeName},
      {"control character", {{"velto\n.deb", "x"}}, ArchiveError::kUnsafeName},
      {"symbolic link", {{"velto.deb", "", '2'}}, ArchiveError::kUnsupported},
      {"hard link", {{"velto.deb", "", '1'}}, ArchiveError::kUnsupported},
      {"extended header renaming what follows",
       {{"PaxHeader", "30 path=../../etc/velto.deb\n", 'x'}, {"a.deb", "x"}},
       ArchiveError::kUnsupported},
      {"long name header", {{"././@LongLink", "../../x.deb", 'L'}, {"a.deb", "x"}}, ArchiveError::kUnsupported},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tar_single_entry(make_tar(c.members), ".deb").error, c.expected) << c.what;
  }
}

TEST(TarSingleEntry, RefusesSizesThatLieAndTruncation) {
  const ByteVector good = make_tar({{"velto.deb", std::string(700, 'p')}});
  ASSERT_EQ(tar_single_entry(good, ".deb").error, ArchiveError::kNone);

  // Every cut short of the end blocks fails, whatever block it falls in.
  for (std::size_t size = 0; size < 512 * 3; size += 37) {
    const ByteVector cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_EQ(tar_single_entry(cut, ".deb").error, ArchiveError::kMalformed) << size;
  }

  // A size beyond the archive, rewritten with a matching checksum.
  ByteVector lying = make_tar({{"velto.deb", "small"}});
  ByteVector huge = make_tar({{"velto.deb", std::string(20000, 'h')}});
  std::copy(huge.begin() + 124, huge.begin() + 136, lying.begin() + 124);
  std::copy(huge.begin() + 148, huge.begin() + 156, lying.begin() + 148);
  EXPECT_NE(tar_single_entry(lying, ".deb").error, ArchiveError::kNone);

  ByteVector bad_checksum = good;
  bad_checksum[10] ^= 1;
  EXPECT_EQ(tar_single_entry(bad_checksum, ".deb").error, ArchiveError::kMalformed);

  ByteVector base256 = good;
  base256[124] = 0x80;
  EXPECT_EQ(tar_single_entry(base256, ".deb").error, ArchiveError::kMalformed);

  EXPECT_EQ(tar_single_entry({}, ".deb").error, ArchiveError::kMalformed);
}

// --- zip -------------------------------------------------------------------

TEST(ZipSingleEntry, FindsTheOneStoredExe) {
  const auto zip = make_zip({{"readme.txt", "hi"}, {"Velto-Setup.EXE", "MZ installer"}, {"docs/", ""}});
  const ArchiveEntry entry = zip_single_entry(zip.bytes, ".exe");
  ASSERT_EQ(entry.error, ArchiveError::kNone);
  EXPECT_EQ(entry.name, "Velto-Setup.EXE");
  EXPECT_EQ(text_of(entry.data), "MZ installer");
}

TEST(ZipSingleEntry, TakesAnArchiveComment) {
  auto zip = make_zip({{"setup.exe", "MZ"}});
  const std::string comment = "made for the tests";
  zip.bytes[zip.end_offset + 20] = static_cast<unsigned char>(comment.size());
  zip.bytes.insert(zip.bytes.end(), comment.begin(), comment.end());
  EXPECT_EQ(zip_single_entry(zip.bytes, ".exe").error, ArchiveError::kNone);
}

TEST(ZipSingleEntry, RefusesHostileArchives) {
  struct Case {
    const char* what;
    std::vector<ZipMember> members;
    ArchiveError expected;
  };
  const std::vector<Case> cases = {
      {"no exe", {{"setup.msi", "x"}}, ArchiveError::kNoCandidate},
      {"an exe directory", {{"setup.exe/", ""}}, ArchiveError::kNoCandidate},
      {"two exes", {{"a.exe", "x"}, {"b.exe", "y"}}, ArchiveError::kSeveral},
      {"climbing out", {{"..\\setup.exe", "x"}}, ArchiveError::kUnsafeName},
      {"climbing out elsewhere", {{"setup.exe", "x"}, {"../../evil.dll", "x"}}, ArchiveError::kUnsafeName},
      {"absolute", {{"C:\\setup.exe", "x"}}, ArchiveError::kUnsafeName},
      {"deflated", {{"setup.exe", "x", 8}}, ArchiveError::kUnsupported},
      {"encrypted", {{"setup.exe", "x", 0, 1}}, ArchiveError::kUnsupported},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zip_single_entry(make_zip(c.members).bytes, ".exe").error, c.expected) << c.what;
  }
}

TEST(ZipSingleEntry, RefusesOffsetsAndSizesThatLie) {
  const auto good = make_zip({{"setup.exe", "MZ the installer"}});
  ASSERT_EQ(zip_single_entry(good.bytes, ".exe").error, ArchiveError::kNone);
  const std::size_t central = good.central_offsets[0];
  struct Case {
    const char* what;
    std::size_t at;
    std::uint32_t value;
  };
  const std::vector<Case> cases = {
      {"central sizes past the directory", central + 20, 0x7FFFFFFF},
      {"stored sizes that differ", central + 24, 3},
      {"crc", central + 16, 0x12345678},
      {"local header past the end", central + 42, 0x7FFFFFF0},
      {"local header inside the data", central + 42, 5},
      {"directory offset past the end", good.end_offset + 16, 0x7FFFFFF0},
      {"directory size too large", good.end_offset + 12, 0x10000},
      {"entry count too large", good.end_offset + 8, 0x00050005},
  };
  for (const Case& c : cases) {
    auto bytes = good.bytes;
    test::put_le32(bytes, c.at, c.value);
    EXPECT_EQ(zip_single_entry(bytes, ".exe").error, ArchiveError::kMalformed) << c.what;
  }

  // Any cut loses the end record or what it points to.
  for (std::size_t size = 0; size < good.bytes.size(); ++size) {
    const ByteVector cut(good.bytes.begin(), good.bytes.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_NE(zip_single_entry(cut, ".exe").error, ArchiveError::kNone) << size;
  }
}

TEST(ZipSingleEntry, ChecksTheLocalNameAgainstTheDirectory) {
  auto zip = make_zip({{"setup.exe", "MZ"}});
  zip.bytes[zip.local_offsets[0] + 30] = 'X';  // the local header names another file
  EXPECT_EQ(zip_single_entry(zip.bytes, ".exe").error, ArchiveError::kMalformed);
}

TEST(Crc32, MatchesTheStandardCheckValue) {
  const std::string check = "123456789";
  EXPECT_EQ(crc32(Bytes(reinterpret_cast<const unsigned char*>(check.data()), check.size())), 0xCBF43926U);
}

#ifndef _WIN32
ByteVector gzip_of(const std::string& text) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  ByteVector out(deflateBound(&stream, text.size()) + 64);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

TEST(Gunzip, GivesTheWholeContentWithinTheLimit) {
  const std::string text(300000, 'z');
  const auto out = gunzip(gzip_of(text), text.size());
  ASSERT_TRUE(out);
  EXPECT_EQ(std::string(out->begin(), out->end()), text);
  // A small stream that unpacks beyond the limit is refused.
  EXPECT_FALSE(gunzip(gzip_of(text), text.size() - 1));
}

TEST(Gunzip, RefusesTruncatedDamagedAndTrailingBytes) {
  const ByteVector good = gzip_of("the package bytes");
  for (std::size_t size = 0; size < good.size(); ++size) {
    EXPECT_FALSE(gunzip(Bytes(good.data(), size), 1 << 20)) << size;
  }
  ByteVector damaged = good;
  damaged[damaged.size() - 6] ^= 0x40;  // the stored CRC
  EXPECT_FALSE(gunzip(damaged, 1 << 20));
  ByteVector trailing = good;
  trailing.push_back(0);
  EXPECT_FALSE(gunzip(trailing, 1 << 20));
  const ByteVector plain = {'n', 'o', 't', ' ', 'g', 'z'};
  EXPECT_FALSE(gunzip(plain, 1 << 20));
}
#endif

}  // namespace
}  // namespace velto::updater
