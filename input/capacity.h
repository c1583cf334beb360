// What brix_eli takes at most. brix_import refuses, with a way out, to write
// files beyond these, so both programs read them here.
#pragma once

namespace brix::input {

inline constexpr int max_points = 12000;  // grid points, and values per year record
inline constexpr int max_years = 2500;    // year records

}  // namespace brix::input
