#include "records/convert.h"

#include <memory>
#include <random>
#include <vector>

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

// A year line of fields of every kind, each also added to made: plain or not, with
// implied decimals, exponents, commas, blanks inside, NaN; a bad character, a CR.
std::string messy_line(std::mt19937_64& random, int fields, std::vector<std::string>& made) {
  const char* const formats[] = {"%10.0f", "%10.1f", "%10.2f", "%10.5f", "%10.6f", "%.2f,",
                                 "%10.2e", "%-10.3f", "       NaN", "  1 2.345 ", "%10.3f"};
  std::string line = "1800 ";
  char buf[64];
  for (int p = 0; p < fields; ++p) {
    double magnitude = std::ldexp(1.0, int(random() % 40) - 12);
    double v = (double(random() % 2000001) / 1e6 - 1) * magnitude;
    const char* format = formats[std::min<std::uint64_t>(random() % 40, 10)];  // mostly the last
    std::string field(buf, std::size_t(std::snprintf(buf, sizeof buf, format, v)));
    if (random() % 16 == 0) {  // no point: implied decimals
      std::erase(field, '.');
      field.insert(0, 10 - std::min<std::size_t>(field.size(), 10), ' ');
    }
    if (field.size() <= 10) line += field, made.push_back(field);  // else left out
  }
  std::size_t bad = 5 + 10 * (random() % 2000);
  if (random() % 20 == 0 && bad + 10 <= line.size()) line.replace(bad, 10, "    29.5x0");
  return line + (random() % 15 == 0 ? "\r\n" : "\n");
}

TEST(PlainFieldTest, FieldsAndYearRecordsReadAsByTheGeneralConversion) {
  std::vector<std::string> lines(400), fields;
  std::string text;
  std::mt19937_64 random(11);
  for (std::string& line : lines)
    text += line = messy_line(random, random() % 10 ? 3002 : int(random() % 3000), fields);
  for (const auto& c : cases("plain.txt", "field")) {
    float v = 42.0f;
    const bool plain = get_real_plain(c[0].data(), int(c[0].size()), 3, v);
    EXPECT_EQ(plain ? "plain" : v == 42.0f ? "other" : "changed", c[1]) << "[" << c[0] << "]";
    fields.push_back(c[0]);
  }
  for (const std::string& f : fields) {
    std::string scratch(f.size(), ' ');
    float fast = 0, slow = 0;
    if (!get_real_plain(f.data(), int(f.size()), 3, fast)) continue;
    ASSERT_TRUE(get_real(strip_blanks(scratch.data(), f), 3, slow) && bits(fast) == bits(slow))
        << "[" << f << "] " << fast << " vs " << slow;
  }
  // Read the general way, then on every other path this processor has.
  const std::vector<FieldPath> paths = available_field_paths();
  std::vector<std::unique_ptr<InputUnit>> in;
  for (std::size_t w = 0; w < paths.size(); ++w) in.push_back(std::make_unique<InputUnit>(text));
  int errors = 0;
  for (const std::string& line : lines) {
    std::vector<std::vector<float>> v(paths.size(), std::vector<float>(6000, -1));
    std::vector<Outcome> o(paths.size());
    for (std::size_t w = 0; w < paths.size(); ++w) {  // 3000 values at a stride of 2
      ASSERT_TRUE(use_field_path(paths[w]));
      std::int32_t year;
      o[w] = read(in[w]->unit(), Format("(i5,12000f10.3)"),
                  {Target::integer(year), Target::reals(v[w].data(), 3000, 2)}, Handles::kErrors);
    }
    auto same = [](float a, float b) { return bits(a) == bits(b); };
    for (std::size_t w = 1; w < paths.size(); ++w)
      ASSERT_TRUE(o[0] == o[w] && std::equal(v[0].begin(), v[0].end(), v[w].begin(), same))
          << field_path_name(paths[w]) << ": " << line;
    errors += o[0] == Outcome::kError;
  }
  use_field_path(widest_field_path());
  EXPECT_TRUE(errors > 5 && errors < 200) << errors << " bad lines";
}

}  // namespace brix::records::testing
