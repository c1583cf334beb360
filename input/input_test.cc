// Both input files generated with every messy feature, read through the
// readers the program uses: every value as the file rules give it, and the
// same bits whether plain fields take the fast way or the general one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "input/coordinates.h"
#include "input/reconstruction.h"
#include "input/run_data.h"
#include "records/request.h"
#include "records/test_util.h"
#include "tools/generate.h"

namespace brix::input {
namespace {

RunData data;  // static: the matrix alone is 120 MB

class Reader {
 public:
  Reader() : null_(::open("/dev/null", O_WRONLY)), console_("*", -1, null_, true) {}
  ~Reader() { ::close(null_); }
  void coordinates(const std::string& path) {
    ASSERT_TRUE(records::Unit::file().open_old(path));
    data.coord_order = 1;
    read_coordinates(records::Unit::file(), console_, data);
  }
  void reconstruction(const std::string& path) {
    ASSERT_TRUE(records::Unit::file().open_old(path));
    read_reconstruction(records::Unit::file(), console_, data);
  }

 private:
  int null_;
  records::Unit console_;
};

TEST(InputFilesTest, MessyGeneratedFilesReadExactlyAndAlikeOnBothPaths) {
  gen::Options options;
  options.points = 3000;
  options.years = 400;
  options.seed = 5;
  options.messy = gen::Messy::all();
  const gen::Dataset set = gen::make(options);
  ASSERT_GT(set.bad_lines, 0);
  records::testing::TempFile xy(set.xy), recon(set.recon);

  Reader reader;
  reader.coordinates(xy.path());
  ASSERT_EQ(data.n_points, set.points);
  for (int p = 0; p < set.points; ++p) {
    ASSERT_EQ(data.grid_lat[p], static_cast<float>(set.grid.lat[static_cast<std::size_t>(p)] / 100.0)) << p;
    ASSERT_EQ(data.grid_lon[p], static_cast<float>(set.grid.lon[static_cast<std::size_t>(p)] / 100.0)) << p;
  }

  std::vector<std::uint32_t> bits[2];
  for (int fast = 0; fast < 2; ++fast) {
    records::use_fast_fields(fast == 1);
    reader.reconstruction(recon.path());
    ASSERT_EQ(data.n_years, set.years);
    ASSERT_EQ(data.first_year, options.first_year);
    for (int y = 1; y <= set.years; ++y) {
      for (int p = 1; p <= set.points; ++p) {
        float v = data.sst_at(y, p);
        std::int32_t milli = set.milli[static_cast<std::size_t>((y - 1) * set.points + (p - 1))];
        ASSERT_EQ(v, static_cast<float>(milli / 1000.0)) << "year " << y << " point " << p;
        bits[fast].push_back(std::bit_cast<std::uint32_t>(v));
      }
    }
  }
  records::use_fast_fields(true);
  EXPECT_EQ(bits[0], bits[1]);
}

}  // namespace
}  // namespace brix::input
