#include "records/convert.h"

#include <climits>
#include <random>
#include <vector>

#include "records/fixed.h"
#include "records/plain.h"
#include "records/test_util.h"

namespace brix::records::testing {

TEST(ConvertTest, OutputFields) {
  ASSERT_EQ(bits(real("-nan")), 0xFFC00000u) << "the NaN of the tables";
  for (const auto& c : cases("convert.txt", "out")) {
    int w = 0, d = 0;
    std::sscanf(c[0].c_str() + 1, "%d.%d", &w, &d);
    std::string field(std::size_t(w) + 1, '?');  // one column more, which must stay
    if (c[0][0] == 'I') put_integer(field.data(), w, std::stoi(c[1]));
    else put_real(field.data(), w, d, real(c[1]));
    EXPECT_EQ(field, c[2] + "?") << c[0] << " of " << c[1];
  }
}

TEST(ConvertTest, RealInput) {
  for (const auto& c : cases("convert.txt", "in")) {
    std::string scratch(c[0].size(), ' ');
    float v = 7.0f;
    const bool ok = get_real(strip_blanks(scratch.data(), c[0]), std::stoi(c[1]), v);
    EXPECT_TRUE(c[2] == "error" ? !ok && v == 7.0f : ok && bits(v) == bits(real(c[2])))
        << c[0] << " read " << v;
  }
}

TEST(ConvertTest, IntegerInput) {
  for (const auto& c : cases("convert.txt", "int")) {
    std::string scratch(c[0].size(), ' ');
    std::int32_t v[2] = {42, 42};  // a failed conversion leaves them alone
    const bool ok[2] = {get_integer_field(strip_blanks(scratch.data(), c[0]), v[0]),
                        get_integer_value(c[0], v[1])};
    for (int i = 0; i < 2; ++i)  // as an Iw field, then as a free-form value
      EXPECT_EQ(ok[i] ? std::to_string(v[i]) : v[i] == 42 ? "error" : "changed", c[1 + i]) << c[0];
  }
}

TEST(ConvertTest, FixedPointFields) {
  const struct { std::int32_t v; int w, d; const char* field; } kCases[] = {
      {28512, 10, 3, "    28.512"}, {-1, 10, 3, "    -0.001"}, {0, 10, 3, "     0.000"},
      {-99999999, 10, 3, "-99999.999"}, {999999999, 10, 3, "999999.999"},
      {-100000000, 10, 3, "**********"}, {INT32_MIN, 10, 3, "**********"}, {-500, 7, 2, "  -5.00"}};
  for (const auto& c : kCases) {
    std::string field(std::size_t(c.w) + 1, '?');  // one column more, which must stay
    put_fixed_field(field.data(), c.w, c.d, c.v);
    EXPECT_EQ(field, c.field + std::string("?")) << c.v;
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
