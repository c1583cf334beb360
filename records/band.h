// The equatorial band the analysis takes: the grid points from 5S to 5N,
// by latitude alone. It lives in records/, the lowest library, so that the
// readers, the analysis and the generator all pick the band by one rule.
#pragma once

namespace brix::records {

// The band's limits in degrees north, both included, in the single
// precision the latitudes are compared in.
inline constexpr float kBandSouth = -5.0f;
inline constexpr float kBandNorth = 5.0f;

// Whether a latitude lies in the band, its limits included; a NaN latitude
// is outside.
constexpr bool in_band(float lat) { return lat >= kBandSouth && lat <= kBandNorth; }

}  // namespace brix::records
