// Writes a netCDF file laid out like NOAA's extended reconstructed SST: a
// 2-degree global grid (89 latitudes, 180 longitudes), monthly from 1854-01,
// float values in degree_C with -999 over land, netCDF-4 with one chunk per
// month, compressed with deflate level 1 and shuffle. With a step of 0.25
// degrees, a high-resolution ocean field as model output stores it (1440 by
// 720 cell centres, from 1850-01). For timing brix_import (import/bench).
//
//   import_sample FILE [YEARS [STEP]]     YEARS defaults to 170, STEP to 2
#include <netcdf.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void check(int status, const char* what) {
  if (status == NC_NOERR) return;
  std::fprintf(stderr, "import_sample: %s: %s\n", what, nc_strerror(status));
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: import_sample FILE [YEARS [STEP]]\n", stderr);
    return 2;
  }
  const bool fine = argc > 3 && std::atof(argv[3]) == 0.25;
  const std::size_t nlat = fine ? 720 : 89, nlon = fine ? 1440 : 180;
  const int first_year = fine ? 1850 : 1854;
  const std::size_t nt = 12 * static_cast<std::size_t>(argc > 2 ? std::atoi(argv[2]) : 170);
  int nc = 0, dt = 0, dz = 0, dy = 0, dx = 0, vt = 0, vz = 0, vy = 0, vx = 0, v = 0;
  check(nc_create(argv[1], NC_CLOBBER | NC_NETCDF4 | NC_CLASSIC_MODEL, &nc), "create");
  check(nc_def_dim(nc, "time", NC_UNLIMITED, &dt), "time");
  check(nc_def_dim(nc, "lev", 1, &dz), "lev");
  check(nc_def_dim(nc, "lat", nlat, &dy), "lat");
  check(nc_def_dim(nc, "lon", nlon, &dx), "lon");
  check(nc_def_var(nc, "time", NC_DOUBLE, 1, &dt, &vt), "time");
  check(nc_def_var(nc, "lev", NC_FLOAT, 1, &dz, &vz), "lev");
  check(nc_def_var(nc, "lat", NC_FLOAT, 1, &dy, &vy), "lat");
  check(nc_def_var(nc, "lon", NC_FLOAT, 1, &dx, &vx), "lon");
  int dims[4] = {dt, dz, dy, dx};
  check(nc_def_var(nc, "sst", NC_FLOAT, 4, dims, &v), "sst");
  std::size_t chunk[4] = {1, 1, nlat, nlon};
  check(nc_def_var_chunking(nc, v, NC_CHUNKED, chunk), "chunking");
  check(nc_def_var_deflate(nc, v, 1, 1, 1), "deflate");
  auto text = [&](int var, const char* name, const char* value) {
    check(nc_put_att_text(nc, var, name, std::strlen(value), value), name);
  };
  text(vt, "units", "days since 1800-1-1 00:00:00");
  text(vz, "units", "meters");
  text(vy, "units", "degrees_north");
  text(vx, "units", "degrees_east");
  text(v, "standard_name", "sea_surface_temperature");
  text(v, "units", fine ? "degC" : "degree_C");
  text(NC_GLOBAL, "title",
       fine ? "0.25-degree model-like sample for timing brix_import"
            : "ERSST-like sample for timing brix_import");
  float fill = -999.0f;
  check(nc_put_att_float(nc, v, "_FillValue", NC_FLOAT, 1, &fill), "_FillValue");
  check(nc_enddef(nc), "enddef");

  std::vector<float> lat(nlat), lon(nlon), level{0.0f};
  for (std::size_t i = 0; i < nlat; ++i)
    lat[i] =
        fine ? -89.875f + 0.25f * static_cast<float>(i) : -88.0f + 2.0f * static_cast<float>(i);
  for (std::size_t j = 0; j < nlon; ++j)
    lon[j] = fine ? 0.125f + 0.25f * static_cast<float>(j) : 2.0f * static_cast<float>(j);
  check(nc_put_var_float(nc, vy, lat.data()), "lat");
  check(nc_put_var_float(nc, vx, lon.data()), "lon");
  check(nc_put_var_float(nc, vz, level.data()), "lev");
  std::vector<float> field(nlat * nlon);
  for (std::size_t t = 0; t < nt; ++t) {
    // Mid-month, counted in days of the proleptic calendar from 1800-01-01.
    int year = first_year + static_cast<int>(t / 12), month = static_cast<int>(t % 12) + 1;
    int y = year - (month <= 2), era = y / 400, yoe = y - era * 400;
    int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + 14;
    double day = era * 146097.0 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 657377;
    std::size_t start[1] = {t}, one[1] = {1};
    check(nc_put_vara_double(nc, vt, start, one, &day), "time values");
    for (std::size_t i = 0; i < nlat; ++i)
      for (std::size_t j = 0; j < nlon; ++j) {
        double phase = 2 * M_PI * (static_cast<double>(t) / 12.0 + lon[j] / 360.0);
        bool land = std::sin(lat[i] * 0.07) * std::cos(lon[j] * 0.05) > 0.6;
        field[i * nlon + j] =
            land ? fill : static_cast<float>(29.0 - 0.004 * lat[i] * lat[i] + std::sin(phase));
      }
    std::size_t s4[4] = {t, 0, 0, 0}, c4[4] = {1, 1, nlat, nlon};
    check(nc_put_vara_float(nc, v, s4, c4, field.data()), "sst values");
  }
  check(nc_close(nc), "close");
  return 0;
}
