#include "import/extent.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace brix::importer {
namespace {

// Reads a file's bytes from where it was left, in pieces, and notes when it
// was asked for bytes past the end.
class Cursor {
 public:
  Cursor(int fd, std::uint64_t length) : fd_(fd), length_(length) {}
  std::uint64_t at() const { return at_; }
  bool cut() const { return cut_; }
  // Big-endian unsigned integer of n bytes (n <= 8); 0 past the end.
  std::uint64_t big(int n) {
    std::uint64_t v = 0;
    for (int k = 0; k < n; ++k) v = v << 8 | byte();
    return v;
  }
  std::string text(std::uint64_t n) {
    std::string s;
    for (std::uint64_t k = 0; k < n && !cut_; ++k) s += static_cast<char>(byte());
    return s;
  }
  void skip(std::uint64_t n) {
    if (n > length_ - std::min(at_, length_)) cut_ = true;
    at_ += n;
  }

 private:
  unsigned char byte() {
    if (at_ >= length_) {
      cut_ = true;
      ++at_;
      return 0;
    }
    if (at_ < start_ || at_ >= start_ + filled_) {
      start_ = at_;
      ssize_t n = ::pread(fd_, buffer_.data(), buffer_.size(), static_cast<off_t>(at_));
      filled_ = n > 0 ? static_cast<std::uint64_t>(n) : 0;
      if (filled_ == 0) {
        cut_ = true;
        ++at_;
        return 0;
      }
    }
    return buffer_[at_++ - start_];
  }
  int fd_;
  std::uint64_t length_, at_ = 0, start_ = 0, filled_ = 0;
  bool cut_ = false;
  std::array<unsigned char, 1 << 16> buffer_;
};

// Bytes of one value of a classic netCDF type; 0 for no such type.
std::uint64_t type_size(std::uint64_t type) {
  switch (type) {
    case 1:
    case 2:
    case 7:
      return 1;  // byte, char, ubyte
    case 3:
    case 8:
      return 2;  // short, ushort
    case 4:
    case 5:
    case 9:
      return 4;  // int, float, uint
    case 6:
    case 10:
    case 11:
      return 8;  // double, int64, uint64
    default:
      return 0;
  }
}

std::uint64_t padded(std::uint64_t n) { return (n + 3) / 4 * 4; }

// a * b, or nullopt when it overflows.
std::optional<std::uint64_t> times(std::uint64_t a, std::uint64_t b) {
  std::uint64_t p = 0;
  if (__builtin_mul_overflow(a, b, &p)) return std::nullopt;
  return p;
}

// The header of a classic file (versions 1, 2 and 5): its dimensions, its
// attributes (skipped) and its variables, each with the offset of its data.
// Each read gives nullopt (or false) for a header that cannot be one.
class ClassicHeader {
 public:
  ClassicHeader(Cursor& c, int version, std::uint64_t length)
      : c_(c), count_(version == 5 ? 8 : 4), offset_(version == 1 ? 4 : 8), length_(length) {}

  std::optional<Extent> read(int version) {
    Extent e;
    e.length = length_;
    std::uint64_t numrecs = c_.big(count_);
    e.streaming = numrecs == (version == 5 ? ~std::uint64_t{0} : 0xFFFFFFFFu);
    e.records = e.streaming ? 0 : numrecs;
    if (!dimensions() || !attributes()) return std::nullopt;
    std::optional<std::uint64_t> nvars = list(0x0B);
    if (!nvars) return std::nullopt;
    std::vector<std::pair<std::string, Extent::Data>> vars;
    for (std::uint64_t k = 0; k < *nvars && !c_.cut(); ++k) {
      std::optional<std::pair<std::string, Extent::Data>> v = variable();
      if (!v) return std::nullopt;
      vars.push_back(*v);
    }
    if (c_.cut()) return std::nullopt;
    e.needed = c_.at();
    std::size_t record_vars = 0;
    for (const auto& [name, v] : vars) record_vars += v.record;
    for (const auto& [name, v] : vars) {
      // Slabs of record variables are padded to 4 bytes, unless there is only one.
      if (v.record) e.record_size += record_vars == 1 ? v.size : padded(v.size);
      e.variables[name] = v;
    }
    return e;
  }

 private:
  std::optional<std::string> name() {
    std::uint64_t n = c_.big(count_);
    if (n > length_) return std::nullopt;
    std::string s = c_.text(n);
    c_.skip(padded(n) - n);
    return s;
  }
  // A list's tag and number of elements; nullopt for a tag of another list.
  std::optional<std::uint64_t> list(std::uint64_t tag) {
    std::uint64_t t = c_.big(4), n = c_.big(count_);
    if ((t != tag && !(t == 0 && n == 0)) || n > length_) return std::nullopt;
    return n;
  }
  bool attributes() {
    std::optional<std::uint64_t> n = list(0x0C);
    for (std::uint64_t k = 0; n && k < *n && !c_.cut(); ++k) {
      if (!name()) return false;
      std::uint64_t type = c_.big(4);
      std::uint64_t values = c_.big(count_);
      std::optional<std::uint64_t> bytes = times(values, type_size(type));
      if (type_size(type) == 0 || !bytes || *bytes > length_) return false;
      c_.skip(padded(*bytes));
    }
    return n.has_value();
  }
  bool dimensions() {
    std::optional<std::uint64_t> ndims = list(0x0A);
    if (!ndims) return false;
    for (std::uint64_t k = 0; k < *ndims && !c_.cut(); ++k) {
      if (!name()) return false;
      dims_.push_back(c_.big(count_));
    }
    return true;
  }
  // A variable's name and data: its size, of all of it or of one record.
  std::optional<std::pair<std::string, Extent::Data>> variable() {
    Extent::Data v;
    std::optional<std::string> n = name();
    std::uint64_t rank = c_.big(count_);
    if (!n || rank > dims_.size() + 1) return std::nullopt;
    std::optional<std::uint64_t> size = 1;
    for (std::uint64_t d = 0; d < rank && !c_.cut(); ++d) {
      std::uint64_t id = c_.big(count_);
      if (id >= dims_.size()) return std::nullopt;
      if (d == 0 && dims_[id] == 0) {
        v.record = true;
      } else if (size) {
        size = times(*size, dims_[id]);
      }
    }
    if (!attributes()) return std::nullopt;
    std::uint64_t type = c_.big(4);
    c_.big(count_);  // vsize: computed here instead, as it cannot hold the size of a large variable
    v.begin = c_.big(offset_);
    if (type_size(type) == 0 || !size || !(size = times(*size, type_size(type))))
      return std::nullopt;
    v.size = *size;
    return std::pair{*n, v};
  }

  Cursor& c_;
  int count_;   // bytes of counts and lengths
  int offset_;  // bytes of offsets of data
  std::uint64_t length_;
  std::vector<std::uint64_t> dims_;
};

std::optional<Extent> classic(Cursor& c, int version, std::uint64_t length) {
  return ClassicHeader(c, version, length).read(version);
}

// The superblock of an HDF5 file at `base`: its end-of-file address.
std::optional<Extent> hdf5(Cursor& c, std::uint64_t base, std::uint64_t length) {
  c.skip(base + 8 - c.at());
  int version = static_cast<int>(c.big(1));
  int sizeof_offsets = 0;
  if (version == 0 || version == 1) {
    c.skip(4);
    sizeof_offsets = static_cast<int>(c.big(1));
    c.skip(version == 0 ? 10 : 14);  // to the base address, at 24 or 28
  } else if (version == 2 || version == 3) {
    sizeof_offsets = static_cast<int>(c.big(1));
    c.skip(2);
  } else {
    return std::nullopt;
  }
  if (sizeof_offsets < 2 || sizeof_offsets > 8) return std::nullopt;
  auto address = [&] {  // little-endian
    std::uint64_t v = 0;
    for (int k = 0; k < sizeof_offsets; ++k) v |= c.big(1) << (8 * k);
    return v;
  };
  address();  // base address
  address();  // free-space information or superblock extension
  std::uint64_t eof = address();
  if (c.cut()) return std::nullopt;
  Extent e;
  e.kind = Extent::Kind::kHdf5;
  e.length = length;
  bool undefined = eof == (sizeof_offsets == 8 ? ~std::uint64_t{0}
                                               : (std::uint64_t{1} << (8 * sizeof_offsets)) - 1);
  e.needed = undefined ? 0 : eof;
  return e;
}

// A header that ran past the end of the file: it needs at least the bytes
// read of it.
Extent cut_header(Extent::Kind kind, const Cursor& c, std::uint64_t length) {
  Extent e;
  e.kind = kind;
  e.length = length;
  e.needed = std::max(c.at(), length + 1);
  e.header_cut = true;
  return e;
}

}  // namespace

std::optional<Extent> read_extent(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st;
  std::optional<Extent> e;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    auto length = static_cast<std::uint64_t>(st.st_size);
    Cursor c(fd, length);
    std::string magic = c.text(4);
    if (magic.size() == 4 && magic.compare(0, 3, "CDF") == 0 &&
        (magic[3] == 1 || magic[3] == 2 || magic[3] == 5)) {
      e = classic(c, magic[3], length);
      if (!e && c.cut()) e = cut_header(Extent::Kind::kClassic, c, length);
    } else {
      // The superblock lies at 0, 512, 1024, 2048, ... (after a user block).
      static const char kSignature[] = "\x89HDF\r\n\x1a\n";
      for (std::uint64_t base = 0; base + 8 <= length && !e; base = base ? 2 * base : 512) {
        Cursor at(fd, length);
        at.skip(base);
        if (at.text(8) != std::string(kSignature, 8)) continue;
        e = hdf5(at, base, length);
        if (!e && at.cut()) e = cut_header(Extent::Kind::kHdf5, at, length);
        if (!e) break;
      }
    }
  }
  ::close(fd);
  return e;
}

std::uint64_t bytes_needed(const Extent& e, const std::string& name, std::uint64_t last) {
  auto it = e.variables.find(name);
  if (it == e.variables.end()) return 0;
  const Extent::Data& v = it->second;
  if (!v.record) return v.begin + v.size;
  return v.begin + last * e.record_size + v.size;
}

}  // namespace brix::importer
