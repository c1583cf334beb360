// The layout of a year record of the reconstruction file: the year in 5
// columns, then one value per grid point in 10 columns with 3 decimals
// ("%5d", then "%10.3f" for each point), so that n points make a line of
// 5 + 10 n characters. The reader, the test-data generator and brix_import
// all take the layout from here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brix::records {

inline constexpr int kYearWidth = 5;
inline constexpr int kValueWidth = 10;
inline constexpr int kValueDecimals = 3;

constexpr std::size_t year_line_length(int n_points) {
  return static_cast<std::size_t>(kYearWidth) +
         static_cast<std::size_t>(kValueWidth) * static_cast<std::size_t>(n_points);
}

// The largest magnitude of `digits` decimal digits.
constexpr std::int64_t all_nines(int digits) {
  return digits > 0 ? 10 * all_nines(digits - 1) + 9 : 0;
}

// The years a year field holds (-9999 to 99999): a minus takes one of its
// columns.
inline constexpr std::int32_t kYearMin = static_cast<std::int32_t>(-all_nines(kYearWidth - 1));
inline constexpr std::int32_t kYearMax = static_cast<std::int32_t>(all_nines(kYearWidth));

// The values a value field holds, in thousandths (-99999.999 to 999999.999):
// the point takes one of its columns, and a minus one more.
inline constexpr std::int32_t kValueMinThousandths =
    static_cast<std::int32_t>(-all_nines(kValueWidth - 2));
inline constexpr std::int32_t kValueMaxThousandths =
    static_cast<std::int32_t>(all_nines(kValueWidth - 1));

}  // namespace brix::records
