#include "import/netcdf_source.h"

#include <netcdf.h>

#include <algorithm>
#include <map>

namespace brix::importer {
namespace {

// What to make of a failure to read a file that looks like netCDF: unless
// memory ran out, the file may be damaged.
constexpr const char* kMayBeDamaged =
    "; the file may be damaged or incomplete (a download cut short?)";
std::string reason(int status) {
  return std::string(nc_strerror(status)) + (status == NC_ENOMEM ? "" : kMayBeDamaged);
}

// A file shorter than its header says it is.
Failure cut_short(const std::string& path, std::uint64_t length, const std::string& needs) {
  return Failure(path + " is cut short, perhaps an incomplete download: the file ends at byte " +
                 std::to_string(length) + "; its header needs " + needs);
}

Type type_of(nc_type t) {
  static constexpr Type kTypes[] = {Type::kByte,   Type::kChar,  Type::kShort,  Type::kInt,
                                    Type::kFloat,  Type::kDouble, Type::kUByte, Type::kUShort,
                                    Type::kUInt,   Type::kInt64, Type::kUInt64, Type::kString};
  return t >= NC_BYTE && t <= NC_STRING ? kTypes[t - NC_BYTE] : Type::kOther;
}

Attribute read_attribute(int nc, int var, int k) {
  char name[NC_MAX_NAME + 1] = {};
  nc_inq_attname(nc, var, k, name);
  Attribute a;
  a.name = name;
  nc_type t = 0;
  std::size_t len = 0;
  nc_inq_att(nc, var, name, &t, &len);
  a.type = type_of(t);
  if (t == NC_CHAR) {
    std::string s(len, '\0');
    if (nc_get_att_text(nc, var, name, s.data()) == NC_NOERR)
      a.text.assign(s.begin(), std::find(s.begin(), s.end(), '\0'));
  } else if (t == NC_STRING) {
    std::vector<char*> strings(len);
    if (len >= 1 && nc_get_att_string(nc, var, name, strings.data()) == NC_NOERR) {
      a.text = strings[0] ? strings[0] : "";
      nc_free_string(len, strings.data());
    }
  } else if (a.type != Type::kOther) {
    a.numbers.resize(len);
    if (nc_get_att_double(nc, var, name, a.numbers.data()) != NC_NOERR) a.type = Type::kOther;
  }
  return a;
}

std::vector<Attribute> read_attributes(int nc, int var) {
  int n = 0;
  nc_inq_varnatts(nc, var, &n);
  std::vector<Attribute> list;
  for (int k = 0; k < n; ++k) list.push_back(read_attribute(nc, var, k));
  return list;
}

Header read_header(int nc) {
  Header h;
  int ndims = 0;
  nc_inq_dimids(nc, &ndims, nullptr, 0);
  std::vector<int> ids(static_cast<std::size_t>(ndims));
  nc_inq_dimids(nc, &ndims, ids.data(), 0);
  std::map<int, int> index;  // dimension id -> place in h.dimensions
  for (int id : ids) {
    char name[NC_MAX_NAME + 1] = {};
    Dimension d;
    nc_inq_dim(nc, id, name, &d.length);
    d.name = name;
    index[id] = static_cast<int>(h.dimensions.size());
    h.dimensions.push_back(d);
  }
  int unlimited = -1;
  nc_inq_unlimdim(nc, &unlimited);
  if (auto it = index.find(unlimited); it != index.end()) h.unlimited = it->second;
  int nvars = 0;
  nc_inq_nvars(nc, &nvars);
  for (int v = 0; v < nvars; ++v) {
    VariableHeader var;
    char name[NC_MAX_NAME + 1] = {};
    nc_type t = 0;
    int n = 0;
    nc_inq_var(nc, v, name, &t, &n, nullptr, nullptr);
    std::vector<int> dims(static_cast<std::size_t>(n));
    nc_inq_vardimid(nc, v, dims.data());
    var.name = name;
    var.type = type_of(t);
    for (int d : dims) var.dims.push_back(index.count(d) ? index[d] : -1);
    var.attributes = read_attributes(nc, v);
    h.variables.push_back(std::move(var));
  }
  h.globals = read_attributes(nc, NC_GLOBAL);
  return h;
}

}  // namespace

NetcdfSource::NetcdfSource(const std::string& path, const NetcdfSettings& settings)
    : path_(path), settings_(settings) {
  // A header that reaches past the end, or an HDF5 file whose data should
  // end beyond it, is cut short before anything is read.
  extent_ = read_extent(path_);
  if (extent_ && extent_->needed > extent_->length)
    throw cut_short(path_, extent_->length,
                    (extent_->header_cut ? "at least " : "") + std::to_string(extent_->needed) +
                        " bytes");
  open();
  header_ = read_header(ncid_);
}

NetcdfSource::~NetcdfSource() { close(); }

void NetcdfSource::open() {
  if (ncid_ >= 0) return;
  int status = nc_open(path_.c_str(), NC_NOWRITE, &ncid_);
  if (status != NC_NOERR) {
    ncid_ = -1;
    throw Failure("cannot read " + path_ + " as a netCDF file: " + nc_strerror(status) +
                  (extent_ && status != NC_ENOMEM ? kMayBeDamaged : ""));
  }
}

void NetcdfSource::close() {
  if (ncid_ >= 0) nc_close(ncid_);
  ncid_ = -1;
  if (chunks_) {
    closed_times_.reading += chunks_->times().reading;
    closed_times_.decoding += chunks_->times().decoding;
  }
  chunks_.reset();  // its own handle on the file
  chunk_var_ = -1;
}

ReadStats NetcdfSource::stats() const {
  ReadStats s{closed_times_.reading, closed_times_.decoding, direct_};
  if (chunks_) s.reading_chunks += chunks_->times().reading, s.decoding += chunks_->times().decoding;
  return s;
}

void NetcdfSource::need(int var, std::optional<std::size_t> last) const {
  if (!extent_ || extent_->kind != Extent::Kind::kClassic) return;
  const std::string& name = header_.name(var);
  auto it = extent_->variables.find(name);
  if (it == extent_->variables.end() || (it->second.record && extent_->streaming)) return;
  if (it->second.record && extent_->records == 0) return;
  std::uint64_t needed = bytes_needed(*extent_, name, last ? *last : extent_->records - 1);
  if (needed > extent_->length)
    throw cut_short(path_, extent_->length, std::to_string(needed) + " bytes (for " + name + ")");
}

void NetcdfSource::read(int var, std::vector<double>& out) {
  open();
  need(var);
  std::size_t n = 1;
  for (int d : header_.dims(var)) n *= header_.dimensions[static_cast<std::size_t>(d)].length;
  out.resize(n);
  int status = nc_get_var_double(ncid_, var, out.data());
  if (status != NC_NOERR) throw ReadError(reason(status));
}

void NetcdfSource::read(int var, std::span<const std::size_t> start,
                        std::span<const std::size_t> count, std::vector<double>& out) {
  open();
  // A record variable's records lie along its first dimension.
  need(var, start.empty() ? 0 : start[0] + count[0] - 1);
  if (read_chunks(var, start, count, out)) return;
  std::size_t n = 1;
  for (std::size_t c : count) n *= c;
  out.resize(n);
  int status = nc_get_vara_double(ncid_, var, start.data(), count.data(), out.data());
  if (status != NC_NOERR) throw ReadError(reason(status));
}

// A netCDF-4 file's chunks are read and decoded here on several threads
// when they are stored in a way the chunk reader knows; else, or for a
// block some of whose chunks are not stored, netCDF-C reads the block.
bool NetcdfSource::read_chunks(int var, std::span<const std::size_t> start,
                               std::span<const std::size_t> count, std::vector<double>& out) {
  if (!settings_.direct_chunks || !extent_ || extent_->kind != Extent::Kind::kHdf5) return false;
  if (chunk_var_ != var) {
    chunk_var_ = var;
    chunks_ = ChunkReader::open(path_, header_.name(var), settings_.threads);
  }
  if (!chunks_) return false;
  try {
    bool done = chunks_->read(std::vector<std::size_t>(start.begin(), start.end()),
                              std::vector<std::size_t>(count.begin(), count.end()), out);
    direct_ |= done;
    return done;
  } catch (const ChunkError& e) {
    throw ReadError(e.what() + std::string(kMayBeDamaged), e.first);
  }
}

}  // namespace brix::importer
