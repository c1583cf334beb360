// The bytes a file's header says it needs: HDF5 superblocks made byte by
// byte, classic headers made by ncgen.
#include "import/extent.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "records/test_util.h"

namespace brix::importer {
namespace {

// An HDF5 file of `length` bytes whose superblock of `version` lies at
// `base`, with addresses of `size` bytes and the end of file `eof`. The
// fields the reader passes over hold bytes that are no address, so that a
// reader that miscounts them reads another end of file.
std::string hdf5_file(int version, std::size_t base, int size, std::uint64_t eof,
                      std::size_t length) {
  std::string s(base, 'u');  // a user block
  s.append("\x89HDF\r\n\x1a\n", 8);
  s += static_cast<char>(version);
  if (version <= 1) {
    s.append("\x00\x00\x00\x00", 4);  // free-space, root group, reserved, shared header versions
    s += static_cast<char>(size);
    s.append(version == 0 ? 10 : 14, '\x7f');  // sizes of lengths, tree and flags
  } else {
    s += static_cast<char>(size);
    s.append("\x08\x00", 2);  // size of lengths, flags
  }
  auto address = [&](std::uint64_t v) {
    for (int k = 0; k < size; ++k) s += static_cast<char>(k < 8 ? v >> (8 * k) & 0xff : 0);
  };
  address(base);
  address(0x6162636465666768);  // free space or the superblock extension
  address(eof);
  s.append(16, '\x55');  // the root group's entry
  if (s.size() < length) s.append(length - s.size(), '\0');
  return s.substr(0, length);
}

TEST(ExtentTest, HdfSuperblocksStateTheEndOfTheirData) {
  for (const auto& c : records::testing::cases("import/testdata/extent.txt", "superblock")) {
    const int version = std::stoi(c[0]), size = std::stoi(c[2]);
    const std::size_t base = std::stoul(c[1]), length = std::stoul(c[4]);
    records::testing::TempFile file(hdf5_file(version, base, size, std::stoull(c[3]), length));
    std::optional<Extent> e = read_extent(file.path());
    const std::string at = "version " + c[0] + " at " + c[1] + ", " + c[2] + "-byte addresses";
    if (c[5] == "none") {
      EXPECT_FALSE(e) << at;
      continue;
    }
    ASSERT_TRUE(e) << at;
    EXPECT_EQ(e->kind, Extent::Kind::kHdf5) << at;
    EXPECT_EQ(e->needed, c[5] == "unstated" ? 0 : std::stoull(c[5])) << at;
    EXPECT_EQ(e->length, length) << at;
    EXPECT_FALSE(e->header_cut) << at;
  }
  // A superblock cut within its addresses needs more than the file holds.
  for (int version : {0, 2}) {
    const std::size_t length = version == 0 ? 30 : 20;
    records::testing::TempFile file(hdf5_file(version, 0, 8, 5000, length));
    std::optional<Extent> e = read_extent(file.path());
    ASSERT_TRUE(e) << version;
    EXPECT_TRUE(e->header_cut) << version;
    EXPECT_GT(e->needed, length) << version;
  }
}

// Classic files of each version: the slab of a record is padded to 4 bytes,
// unless a single variable has records; the last record of the last record
// variable ends the file, but for the padding.
TEST(ExtentTest, ClassicHeadersPlaceEachVariable) {
  if (!std::filesystem::exists(NCGEN_PATH)) GTEST_SKIP() << "ncgen is missing (tools/setup)";
  const struct {
    const char* variables;
    const char* data;
    std::uint64_t record_size;
  } cases[] = {
      {"short v(time, x) ; float lat(x) ;", "", 6},
      {"short v(time, x) ; float lat(x) ; int t(time) ;", "t = 1, 2, 3 ;", 8 + 4},
      {"byte b(time) ; float lat(x) ; short v(time, x) ;", "b = 1, 2, 3 ;", 4 + 8},
  };
  for (const char* kind : {"classic", "64-bit-offset", "cdf5"})
    for (const auto& c : cases) {
      records::testing::TempFile cdl(
          std::string("netcdf f { dimensions: time = UNLIMITED ; x = 3 ;\n"
                      "variables: ") +
          c.variables + "\ndata: lat = 1, 2, 3 ; v = 1, 2, 3, 4, 5, 6, 7, 8, 9 ; " + c.data +
          " }\n");
      const std::string nc = cdl.path() + ".nc";
      const std::string command =
          NCGEN_PATH " -k " + std::string(kind) + " -o " + nc + " " + cdl.path() + " 2>/dev/null";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
      std::optional<Extent> e = read_extent(nc);
      const std::uint64_t length = std::filesystem::file_size(nc);
      std::filesystem::remove(nc);
      const std::string at = std::string(kind) + ": " + c.variables;
      ASSERT_TRUE(e) << at;
      EXPECT_EQ(e->kind, Extent::Kind::kClassic) << at;
      EXPECT_EQ(e->records, 3u) << at;
      EXPECT_EQ(e->record_size, c.record_size) << at;
      EXPECT_FALSE(e->streaming) << at;
      EXPECT_LE(e->needed, e->variables.at("lat").begin) << at;  // the header's end
      EXPECT_EQ(bytes_needed(*e, "lat", 2), e->variables.at("lat").begin + 12) << at;
      std::uint64_t end = 0;
      for (const char* name : {"v", "t", "b"})
        if (e->variables.count(name)) end = std::max(end, bytes_needed(*e, name, 2));
      EXPECT_LE(end, length) << at;  // the last slab may be padded
      EXPECT_LT(length - end, 4u) << at;
      EXPECT_EQ(bytes_needed(*e, "nothing", 2), 0u) << at;
    }
}

}  // namespace
}  // namespace brix::importer
