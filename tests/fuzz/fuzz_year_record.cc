// Fuzzes the reading of year records of n values: the general formatted read
// ("(i5,12000f10.3)" through a unit over a file, every value at a stride)
// against the year-record reader on the same lines in memory and the block
// reading of the file, with one field kernel (by the file's length; the
// suite's replay of the seeds takes every kernel).
//
// Input: two bytes give n (little-endian, modulo 12001); one byte the stride
// (1 to 3, bits 0-1), a header line read first with "(a)" (bit 2), the block
// size (bits 3-4: one block, or 1 byte to 8 KB by the file's length), two
// threads (bit 5, smallest blocks only: threads are slow under sanitizers)
// and the fields kept (bits 6-7); the rest is the file, read to its end or
// the 2501st record. Fields past a line's end all read alike, and so do more
// than a thousand: n is at most 1,023 and 7 more than the longest line holds,
// and the file is cut after the lines that fit in 1,024 fields (n + 1 per
// line; 4,096 lines of the year alone reach the record limit).
//
// Checked: each request takes one line; nothing is written outside the n
// values (guards around them and in the stride's gaps) or past the places
// of the kept values; done fills all n values, error a leading part; the
// reader gives the general reading's outcome, year and bits of every kept
// value, and the block reading its records, first year and kept values.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "input/year_blocks.h"
#include "input/year_record.h"
#include "records/read.h"
#include "records/unit.h"
#include "tests/fuzz/fuzz_file.h"

// The checks of this file are left out of the coverage the fuzzer follows:
// their comparisons, run over every value with every kernel, would otherwise
// take most of its time, and the fuzzer learns nothing from them.
#ifdef __clang__
#define UNTRACED __attribute__((no_sanitize("coverage")))
#else
#define UNTRACED
#endif

namespace {

using brix::input::FieldKernel;
using brix::records::Format;
using brix::records::Handles;
using brix::records::Outcome;
using brix::records::Target;
using brix::records::TextField;
using brix::records::Unit;

// A signalling NaN: no field reads as it, so a value that still holds it was
// not written.
constexpr std::uint32_t kUntouched = 0x7FA5A5A5u;
constexpr std::size_t kGuard = 64;
constexpr int kMaxRecords = 2501;  // the program reports at the 2501st record

[[noreturn]] UNTRACED void fail(const char* what, long a = 0, long b = 0,
                                FieldKernel kernel = FieldKernel::kGeneral) {
  std::fprintf(stderr, "fuzz_year_record: %s (%ld, %ld) with the %s kernel\n", what, a, b,
               std::string(brix::input::field_kernel_name(kernel)).c_str());
  std::abort();
}

UNTRACED bool untouched(float f) { return std::bit_cast<std::uint32_t>(f) == kUntouched; }

// Receiving values with guard areas around them, all untouched to start.
struct Area {
  UNTRACED explicit Area(std::size_t span) : all(span + 2 * kGuard, std::bit_cast<float>(kUntouched)) {}
  float* values() { return all.data() + kGuard; }
  UNTRACED void reset() { std::fill(all.begin(), all.end(), std::bit_cast<float>(kUntouched)); }
  std::vector<float> all;
};

// The block reading's records, one at a time where it converts in place.
struct Collect : brix::input::RecordSink {
  explicit Collect(int kept) : n_kept(kept), row(static_cast<std::size_t>(kept) + 1) {}
  float* place(std::int64_t& room) override { return room = 1, row.data(); }
  bool take(const float* rows, const brix::input::Converted& c) override {
    if (records == 0 && c.records > 0) first_year = c.first_year;
    const std::int64_t fit = std::min<std::int64_t>(c.records, kMaxRecords - records);
    values.insert(values.end(), rows, rows + fit * n_kept);
    records += fit;
    return fit == c.records;
  }
  int n_kept;
  std::vector<float> row, values;
  std::int64_t records = 0;
  std::int32_t first_year = 0;
};

}  // namespace

extern "C" UNTRACED int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const char* text = reinterpret_cast<const char*>(data + 3);
  std::size_t length = size - 3;
  // The lines, and the most columns one has once its tabs are expanded.
  std::vector<std::string_view> lines;
  std::size_t widest = 0;
  for (std::size_t start = 0; start < length;) {
    const void* lf = std::memchr(text + start, '\n', length - start);
    const std::size_t end = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - text) : length;
    lines.emplace_back(text + start, end - start);
    widest = std::max(widest, (end - start) + 7 * static_cast<std::size_t>(
                                                       std::count(text + start, text + end, '\t')));
    start = end + 1;
  }
  const int n = static_cast<int>(
      std::min<std::size_t>({(data[0] | data[1] << 8) % 12001u, widest / 10 + 7, 1023}));
  const std::size_t fit = n == 0 ? 4096 : 1024 / (std::size_t(n) + 1);
  if (lines.size() > fit) {
    lines.resize(fit);
    length = static_cast<std::size_t>(lines.back().data() + lines.back().size() + 1 - text);
  }
  const int stride = 1 + (data[2] & 3) % 3;
  const bool header = (data[2] & 4) != 0;
  const int blocks = data[2] >> 3 & 3;
  const std::size_t block = blocks == 0   ? length + 1
                            : blocks == 1 ? 1 + length % 8192
                            : blocks == 2 ? 64 + length % 1024
                                          : 1 + length % 64;
  const int threads = blocks == 3 && (data[2] & 0x20) != 0 ? 2 : 1;
  // Fields kept: all of them, or two in three.
  const int drop = data[2] >> 6;
  std::vector<std::uint8_t> keep(static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k) keep[std::size_t(k)] = drop == 3 || k % 3 != drop;
  const int n_kept = static_cast<int>(std::count(keep.begin(), keep.end(), 1));
  std::vector<float> kept;  // the kept values of the records read through the unit
  std::int32_t first_year = 0;

  static const Format kHeader("(a)");
  const Format& layout = brix::input::year_format();
  static const std::vector<FieldKernel> kernels = brix::input::available_field_kernels();
#ifdef BRIX_FUZZ_REPLAY
  const std::vector<FieldKernel>& chosen = kernels;
#else
  const std::vector<FieldKernel> chosen{kernels[length % kernels.size()]};
#endif
  const std::size_t span = n > 0 ? static_cast<std::size_t>(n - 1) * stride + 1 : 0;
  Area general_area(span), kept_area(static_cast<std::size_t>(n_kept));
  float* general_values = general_area.values();
  std::vector<float> expected_kept;
  std::vector<char> clean;

  static brix::fuzz::FuzzFile file("year_records");
  std::size_t line = 0;  // the next line in memory
  Unit& unit = file.open({text, length});
  if (header) {
    TextField<80> field;
    Outcome o = brix::records::read(unit, kHeader, {Target::text(field)}, Handles::kErrorsAndEnd);
    if (o == Outcome::kDone)
      ++line;
    else if (o != Outcome::kEnd)
      fail("header: outcome", static_cast<long>(o));
  }
  int records = 0;
  for (;;) {
    std::int32_t general_year = 0;
    const Outcome general_o = brix::records::read(
        unit, layout, {Target::integer(general_year), Target::reals(general_values, n, stride)},
        Handles::kErrorsAndEnd);
    if (general_o == Outcome::kEnd) {
      if (line != lines.size()) fail("the unit ended before the lines", long(line), long(lines.size()));
      break;
    }
    if (general_o != Outcome::kDone && general_o != Outcome::kError)
      fail("outcome", static_cast<long>(general_o));
    if (line == lines.size()) fail("the unit read more lines than the file has", long(line));
    // Values written: all of them after done, a leading part after error.
    int written = 0;
    while (written < n && !untouched(general_values[static_cast<std::size_t>(written) * stride]))
      ++written;
    for (int k = written; k < n; ++k)
      if (!untouched(general_values[static_cast<std::size_t>(k) * stride]))
        fail("a value written after one that was not", written, k);
    if (general_o == Outcome::kDone && written != n) fail("done without every value", written, n);
    expected_kept.clear();
    for (int k = 0; k < written; ++k)
      if (keep[std::size_t(k)]) expected_kept.push_back(general_values[std::size_t(k) * stride]);

    // The same line from memory with the input's kernel (with every kernel
    // where the seeds are replayed).
    const std::string_view raw = lines[line++];
    const std::string_view cleaned = brix::records::clean_line(raw.data(), raw.size(), clean);
    const brix::input::KeptPoints fields{n, keep.data(), n_kept};
    for (const FieldKernel kernel : chosen) {
      // On an error the places of kept values after the failing field may
      // have been written.
      std::int32_t year = 0;
      const Outcome o =
          brix::input::read_year_record(cleaned, fields, kernel, year, kept_area.values());
      if (o != general_o)
        fail("outcomes differ from the general reading", long(o), long(general_o), kernel);
      if (year != general_year)
        fail("years differ from the general reading", year, general_year, kernel);
      const std::size_t stored = expected_kept.size();
      if (stored > 0 && std::memcmp(kept_area.values(), expected_kept.data(), stored * 4) != 0)
        fail("kept values differ from the general reading", long(stored), 0, kernel);
      for (std::size_t i = 0; i < kept_area.all.size(); ++i)
        if ((i < kGuard || i >= kGuard + std::size_t(n_kept)) && !untouched(kept_area.all[i]))
          fail("written past the places of the kept values", long(i), 0, kernel);
      kept_area.reset();
    }
    if (general_o == Outcome::kDone) {
      if (records == 0) first_year = general_year;
      kept.insert(kept.end(), expected_kept.begin(), expected_kept.end());
    }
    for (float& f : general_area.all)
      if (!untouched(f) && (&f < general_values || &f >= general_values + span))
        fail("written outside the receiving values", long(&f - general_area.all.data()));
    general_area.reset();
    if (general_o == Outcome::kDone && ++records == kMaxRecords) break;
  }
  file.close();

  // The same file in blocks, after the same header reading; the block
  // reading knows the year layout alone.
  for (const FieldKernel kernel : chosen) {
    Unit& again = file.open({text, length});
    if (header) {
      TextField<80> field;
      brix::records::read(again, kHeader, {Target::text(field)}, Handles::kErrorsAndEnd);
    }
    int fd;
    std::uint64_t offset;
    if (!again.regular_input(fd, offset)) fail("the file cannot be read in blocks");
    Collect collected(n_kept);
    int error = 0;
    const brix::input::KeptPoints fields{n, keep.data(), n_kept};
    if (brix::input::read_year_blocks(fd, offset, fields, kernel, threads, block, collected,
                                      error) ==
        brix::input::BlocksEnd::kFailed)
      fail("block reading failed", error);
    if (collected.records != records)
      fail("block reading: records", long(collected.records), records, kernel);
    if (records > 0 && collected.first_year != first_year)
      fail("block reading: first year", collected.first_year, first_year, kernel);
    if (!kept.empty() && std::memcmp(kept.data(), collected.values.data(), kept.size() * 4) != 0)
      fail("block reading: values differ", 0, 0, kernel);
    file.close();
  }

  // Every line was read, unless the reading stopped at the record limit.
  if (line < lines.size() && line < static_cast<std::size_t>(kMaxRecords))
    fail("a line left unread", static_cast<long>(line), static_cast<long>(lines.size()));
  return 0;
}
