// The input files through the readers the program uses. Year records read
// line by line through the unit and in blocks on 1 to 3 threads, with the
// block edges anywhere in the file, must all keep the same band values, bit
// for bit, with every field kernel this processor has.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "input/coordinates.h"
#include "input/reconstruction.h"
#include "input/run_data.h"
#include "records/band.h"
#include "records/test_util.h"
#include "generate/generate.h"

namespace brix::input {
namespace {

RunData data;  // static: the band matrix may take 120 MB

struct Records {
  int n_years = 0, first_year = 0, last_year = 0;
  std::vector<std::uint32_t> bits;  // the band rows one after another
  bool operator==(const Records&) const = default;
};

Records read_files(const std::string& xy, const std::string& recon, ReadMode mode,
                   FieldKernel kernel = widest_field_kernel()) {
  int null = ::open("/dev/null", O_WRONLY);
  records::Unit console("*", -1, null, true);
  records::Unit& file = records::Unit::file();
  if (!file.open_old(xy)) std::abort();
  read_coordinates(file, console, 1, data);
  if (!file.open_old(recon)) std::abort();
  mode.kernel = kernel;
  read_reconstruction(file, console, data, mode);
  ::close(null);
  Records r{data.n_years, data.first_year, data.last_year, {}};
  for (int y = 1; y <= data.n_years; ++y)
    for (int k = 0; k < data.n_band; ++k)
      r.bits.push_back(std::bit_cast<std::uint32_t>(data.band_row(y)[k]));
  return r;
}

// Block reading takes a line of the usual length (45 bytes for 4 points)
// in place, without looking for its end or cleaning it, when it reads it
// whole in plain form. Lines that only look so: an LF, CR or tab inside, a
// short line whose successor's LF falls where the usual end would be, fields
// in other forms; then lines of other lengths and forms. Each must read as
// the unit gives it, line by line, wherever the block edges fall.
TEST(ReconstructionTest, LinesOfTheUsualLengthReadAsTheUnitGivesThem) {
  records::testing::TempFile xy("-5 150\n7 160\n0 170\n5 180\n");
  const std::string plain = " 1950    28.000    29.000    30.000    31.000\n";
  ASSERT_EQ(plain.size(), year_line_length(4) + 1);
  std::string recon = "header\n" + plain;
  for (const char* line : {
           "1951\t    28.000    29.000    30.000    31.000\n",  // a tab in the year
           " 1952    28.000\t   29.000    30.000    31.000\n",  // a tab in a field
           " 1953   \r28.000    29.000    30.000    31.000\n",  // a CR in a field
           " 195\r4   28.000    29.000    30.000    31.000\n",  // a CR in the year
           " 1955    28.000\n 1956     1.000     2.000 3.0\n",  // the next line's LF at 45
           " 1957    28.000     29000    30.000    31.000\n",  // no point: still plain
           " 1958    28.000  29.00e+0    30.000    -3 1.0\n",  // read the general way
           " 1959    28.000    29.000    30.000    3x.000\n",  // an error
           " 1960    28.000       N\r29.000    30.000     \n",  // read whole with the CR too
           " 1961    -0.000    +9.999    -    .    31.000\n",
           // Lines of other lengths; the error of 1963 is outside the band.
           "1962,28.5,-1,,7.\n", " 1963    -0.001       abc    30.000    31.000\n",
           " 1964    28.000    29.000    30.000    31.000\r\n", "1965\t 12.500 29.0\t   29000\t31.00\n",
           "\n", " 1967      28.5\n", " 1968    28.000    29.000    30.000    31.000    99.000\n",
       })
    recon += line;
  recon += plain.substr(0, plain.size() - 1);  // no LF at the end
  records::testing::TempFile file(recon);
  const Records expected = read_files(xy.path(), file.path(), ReadMode{0}, FieldKernel::kGeneral);
  ASSERT_EQ(expected.n_years, 17);
  for (FieldKernel kernel : available_field_kernels())
    for (int threads = 1; threads <= 3; ++threads)
      for (std::size_t block = 1; block <= recon.size(); block += 7)
        ASSERT_EQ(read_files(xy.path(), file.path(), ReadMode{threads, block}, kernel), expected)
            << threads << " threads, blocks of " << block << ", " << field_kernel_name(kernel);
}

TEST(ReconstructionTest, MessyGeneratedFilesReadExactly) {
  gen::Options options;
  options.points = 600;
  options.years = 40;
  options.seed = 5;
  options.messy = gen::Messy::all();
  const gen::Dataset set = gen::make(options);
  ASSERT_GT(set.bad_lines, 0);
  records::testing::TempFile xy(set.xy), recon(set.recon);
  Records expected{set.years, options.first_year, options.first_year + set.years - 1, {}};
  for (int y = 0; y < set.years; ++y)
    for (int p = 0; p < set.points; ++p)
      if (records::in_band(static_cast<float>(set.grid.lat[std::size_t(p)] / 100.0)))
        expected.bits.push_back(std::bit_cast<std::uint32_t>(
            static_cast<float>(set.milli[std::size_t(y * set.points + p)] / 1000.0)));
  ASSERT_GT(expected.bits.size(), 40u * 100);
  for (const ReadMode mode : {ReadMode{0}, ReadMode{1}, ReadMode{2, 1000}, ReadMode{3, 20000}})
    EXPECT_EQ(read_files(xy.path(), recon.path(), mode), expected)
        << mode.threads << " " << mode.block_bytes;
  for (FieldKernel kernel : available_field_kernels())
    EXPECT_EQ(read_files(xy.path(), recon.path(), ReadMode{2, 7000}, kernel), expected)
        << field_kernel_name(kernel);
  for (std::size_t p = 0; p < std::size_t(set.points); ++p) {  // the coordinates, exactly
    ASSERT_EQ(data.grid_lat[p], static_cast<float>(set.grid.lat[p] / 100.0)) << p;
    ASSERT_EQ(data.grid_lon[p], static_cast<float>(set.grid.lon[p] / 100.0)) << p;
  }
}

TEST(ReconstructionTest, TheLastRecordThatFitsIsKeptAndOneMoreEndsTheRun) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Static: the child of a death test runs this test again up to the
  // statement, and its files go only with the static objects as it exits.
  static const records::testing::TempFile xy("0 100\n");
  // 2000 lines of 16 bytes, then 499 empty lines, each a record: blocks of
  // 160 or 20 bytes hold more of them than a block of whole lines could.
  std::string recon = "h\n";
  for (int y = 0; y < 2000; ++y) recon += " 1000    29.000\n";
  recon += std::string(499, '\n') + " 1000    12.500\n";
  static const records::testing::TempFile full(recon + "bad\n"), over(recon + "\n");
  for (const ReadMode mode : {ReadMode{0}, ReadMode{1}, ReadMode{2, 160}, ReadMode{2, 20}}) {
    Records r = read_files(xy.path(), full.path(), mode);
    EXPECT_EQ(r.n_years, 2500);
    EXPECT_EQ(std::bit_cast<float>(r.bits.back()), 12.5f)
        << mode.threads << " " << mode.block_bytes;
    EXPECT_EXIT(read_files(xy.path(), over.path(), mode), testing::ExitedWithCode(255),
                "Too many year records \\(more than 2500\\)");
  }
}

TEST(ReconstructionTest, ThreadsFromTheEnvironment) {
  const int all = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 16u));
  const struct {
    const char* value;
    int threads;
  } cases[] = {{nullptr, all}, {"1", 1}, {"256", 256}, {"0", all}, {"257", all}, {"3x", all}};
  for (const auto& c : cases) {
    c.value ? ::setenv("BRIX_THREADS", c.value, 1) : ::unsetenv("BRIX_THREADS");
    EXPECT_EQ(ReadMode::from_environment().threads, c.threads) << (c.value ? c.value : "unset");
  }
  ::unsetenv("BRIX_THREADS");
}

// Kernels by name and from BRIX_FIELDS: only those the processor has are
// taken, the widest when it is not set; any other name is refused with why.
TEST(FieldKernelTest, ChosenByNameOnlyWhereTheProcessorHasIt) {
  const std::string lacks =
      ": this processor lacks the instructions of that path; it can take general, scalar" +
      std::string(field_kernel_available(FieldKernel::kSse) ? ", sse" : "") +
      (field_kernel_available(FieldKernel::kAvx2) ? ", avx2" : "");
  for (const char* value : {static_cast<const char*>(nullptr), "general", "scalar", "sse", "avx2",
                            "avx512", "avx", "AVX2", "", "scalar "}) {
    FieldKernel named = widest_field_kernel(), kernel = FieldKernel::kGeneral;
    const bool known = value == nullptr || field_kernel_named(value, named);
    if (known && value) {
      EXPECT_EQ(field_kernel_name(named), value);
    }
    const bool taken = known && field_kernel_available(named);
    value ? ::setenv("BRIX_FIELDS", value, 1) : ::unsetenv("BRIX_FIELDS");
    std::string message;
    EXPECT_EQ(field_kernel_from_environment(kernel, message), taken) << value;
    const std::string named_as = "BRIX_FIELDS=" + std::string(value ? value : "");
    EXPECT_EQ(message, taken   ? ""
                       : known ? named_as + lacks
                               : named_as + ": no such way of reading fields (general, scalar, "
                                            "sse, avx2 or avx512)");
    if (taken) {
      EXPECT_EQ(kernel, named) << value;
    }
  }
  ::unsetenv("BRIX_FIELDS");
}

}  // namespace
}  // namespace brix::input
