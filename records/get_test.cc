#include "records/get.h"

#include <random>
#include <string>
#include <vector>

#include "records/plain.h"
#include "records/test_util.h"

namespace brix::records::testing {

TEST(GetTest, RealInput) {
  for (const auto& c : cases("convert.txt", "in")) {
    std::string scratch(c[0].size(), ' ');
    float v = 7.0f;
    const bool ok = get_real(strip_blanks(scratch.data(), c[0]), std::stoi(c[1]), v);
    EXPECT_TRUE(c[2] == "error" ? !ok && v == 7.0f : ok && bits(v) == bits(real(c[2])))
        << c[0] << " read " << v;
  }
}

TEST(GetTest, IntegerInput) {
  for (const auto& c : cases("convert.txt", "int")) {
    std::string scratch(c[0].size(), ' ');
    std::int32_t v[2] = {42, 42};  // a failed conversion leaves them alone
    const bool ok[2] = {get_integer_field(strip_blanks(scratch.data(), c[0]), v[0]),
                        get_integer_value(c[0], v[1])};
    for (int i = 0; i < 2; ++i)  // as an Iw field, then as a free-form value
      EXPECT_EQ(ok[i] ? std::to_string(v[i]) : v[i] == 42 ? "error" : "changed", c[1 + i]) << c[0];
  }
}

// Fields of every kind, plain or not: implied decimals, exponents, commas,
// blanks inside, NaN; then those of the case table. Each one the plain
// conversion takes reads as the general conversion reads it.
TEST(PlainFieldTest, FieldsReadAsByTheGeneralConversion) {
  const char* const formats[] = {"%10.0f", "%10.1f", "%10.2f", "%10.5f", "%10.6f", "%.2f,",
                                 "%10.2e", "%-10.3f", "       NaN", "  1 2.345 ", "%10.3f"};
  std::vector<std::string> fields;
  std::mt19937_64 random(11);
  char buf[64];
  for (int i = 0; i < 400000; ++i) {
    const double v = (double(random() % 2000001) / 1e6 - 1) * std::ldexp(1.0, int(random() % 40) - 12);
    const char* format = formats[std::min<std::uint64_t>(random() % 40, 10)];  // mostly the last
    std::string field(buf, std::size_t(std::snprintf(buf, sizeof buf, format, v)));
    if (random() % 16 == 0) {  // no point: implied decimals
      std::erase(field, '.');
      field.insert(0, 10 - std::min<std::size_t>(field.size(), 10), ' ');
    }
    if (field.size() <= 10) fields.push_back(field);
  }
  for (const auto& c : cases("plain.txt", "field")) {
    float v = 42.0f;
    const bool plain = get_real_plain(c[0].data(), int(c[0].size()), 3, v);
    EXPECT_EQ(plain ? "plain" : v == 42.0f ? "other" : "changed", c[1]) << "[" << c[0] << "]";
    fields.push_back(c[0]);
  }
  int plain = 0;
  for (const std::string& f : fields) {
    std::string scratch(f.size(), ' ');
    float fast = 0, slow = 0;
    if (!get_real_plain(f.data(), int(f.size()), 3, fast)) continue;
    ++plain;
    ASSERT_TRUE(get_real(strip_blanks(scratch.data(), f), 3, slow) && bits(fast) == bits(slow))
        << "[" << f << "] " << fast << " vs " << slow;
  }
  EXPECT_GT(plain, 200000);
}

}  // namespace brix::records::testing
