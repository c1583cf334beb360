// Fuzzes the formatted read of the year records, "(i5,12000f10.3)", with any
// number of values per record, through a unit over a file.
//
// Input: two bytes give n (0 to 12000, little-endian, taken modulo 12001),
// one byte the stride between two receiving values (1 to 3, bits 0-1),
// whether a header line is read first with "(a)" (bit 2), and for the block
// reading its block size (bits 3-4: one block, as 1 MB for so small a file,
// or 1 byte to 8 KB after the file's length), two threads (bit 5, smallest
// blocks only: threads are slow under the sanitizers) and the fields kept
// (bits 6-7); the rest is the file. Every line is read until the end of the
// file, or until 2501 records were read, where the program stops reading.
//
// Checked: each request takes exactly one line; nothing is written outside
// the n receiving values (guard areas before and after, and the gaps of the
// stride); a done request fills all n values, an error request a leading
// part of them; the batched reading of plain fields gives the outcome, the
// year and the bits of every value that the general field reading gives;
// the block reading gives the same records, first year and kept values.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "input/year_blocks.h"
#include "records/request.h"
#include "records/unit.h"
#include "tests/fuzz/fuzz_file.h"

namespace {

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

[[noreturn]] void fail(const char* what, long a = 0, long b = 0) {
  std::fprintf(stderr, "fuzz_year_record: %s (%ld, %ld)\n", what, a, b);
  std::abort();
}

bool untouched(float f) { return std::bit_cast<std::uint32_t>(f) == kUntouched; }

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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int n = (data[0] | data[1] << 8) % 12001;
  const int stride = 1 + (data[2] & 3) % 3;
  const bool header = (data[2] & 4) != 0;
  const char* text = reinterpret_cast<const char*>(data + 3);
  const std::size_t length = size - 3;
  const int blocks = data[2] >> 3 & 3;
  const std::size_t block = blocks == 0   ? length + 1
                            : blocks == 1 ? 1 + length % 8192
                            : blocks == 2 ? 64 + length % 1024
                                          : 1 + length % 64;
  const int threads = blocks == 3 && (data[2] & 0x20) != 0 ? 2 : 1;
  // Fields kept by the block reading: all of them, or two in three.
  const int drop = data[2] >> 6;
  std::vector<std::uint8_t> keep(static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k) keep[std::size_t(k)] = drop == 3 || k % 3 != drop;
  const int n_kept = static_cast<int>(std::count(keep.begin(), keep.end(), 1));
  std::vector<float> kept;  // the kept values of the records read line by line
  std::int32_t first_year = 0;

  std::size_t lines = 0;
  for (std::size_t i = 0; i < length; ++i) lines += text[i] == '\n';
  if (length > 0 && text[length - 1] != '\n') ++lines;

  static const Format kHeader("(a)");
  static const Format kYear("(i5,12000f10.3)");
  const std::size_t span = n > 0 ? static_cast<std::size_t>(n - 1) * stride + 1 : 0;
  // The same file is read twice side by side: with the batched reading of
  // plain fields, and with the general field reading alone.
  std::vector<float> area(span + 2 * kGuard, std::bit_cast<float>(kUntouched));
  std::vector<float> general_area(area);
  float* values = area.data() + kGuard;
  float* general_values = general_area.data() + kGuard;

  static brix::fuzz::FuzzFile file("year_records");
  static brix::fuzz::FuzzFile general_file("year_records_general");
  std::size_t requests = 0;
  {
    Unit& unit = file.open({text, length});
    Unit& general = general_file.open({text, length});
    if (header) {
      TextField<80> field;
      Outcome o = brix::records::read(unit, kHeader, {Target::text(field)}, Handles::kErrorsAndEnd);
      brix::records::read(general, kHeader, {Target::text(field)}, Handles::kErrorsAndEnd);
      if (o == Outcome::kDone)
        ++requests;
      else if (o != Outcome::kEnd)
        fail("header: outcome", static_cast<long>(o));
    }
    int records = 0;
    for (;;) {
      std::int32_t year = 0, general_year = 0;
      brix::records::use_fast_fields(true);
      Outcome o = brix::records::read(unit, kYear,
                                      {Target::integer(year), Target::reals(values, n, stride)},
                                      Handles::kErrorsAndEnd);
      brix::records::use_fast_fields(false);
      Outcome general_o = brix::records::read(
          general, kYear, {Target::integer(general_year), Target::reals(general_values, n, stride)},
          Handles::kErrorsAndEnd);
      brix::records::use_fast_fields(true);
      if (o != general_o)
        fail("outcomes differ from the general reading", static_cast<long>(o),
             static_cast<long>(general_o));
      if (year != general_year) fail("years differ from the general reading", year, general_year);
      if (o == Outcome::kEnd) break;
      if (o != Outcome::kDone && o != Outcome::kError) fail("outcome", static_cast<long>(o));
      ++requests;
      // Values written: all of them after done, a leading part after error;
      // each with the bits of the general reading.
      int written = 0;
      while (written < n && !untouched(values[static_cast<std::size_t>(written) * stride]))
        ++written;
      for (int k = 0; k < n; ++k) {
        std::size_t at = static_cast<std::size_t>(k) * stride;
        if (k >= written && !untouched(values[at]))
          fail("a value written after one that was not", written, k);
        if (std::bit_cast<std::uint32_t>(values[at]) !=
            std::bit_cast<std::uint32_t>(general_values[at]))
          fail("a value differs from the general reading", k,
               static_cast<long>(std::bit_cast<std::uint32_t>(values[at])));
      }
      if (o == Outcome::kDone && written != n) fail("done without every value", written, n);
      if (o == Outcome::kDone && records == 0) first_year = year;
      for (int k = 0; k < n; ++k) {
        const std::size_t at = static_cast<std::size_t>(k) * stride;
        if (o == Outcome::kDone && keep[std::size_t(k)]) kept.push_back(values[at]);
        values[at] = general_values[at] = std::bit_cast<float>(kUntouched);
      }
      if (o == Outcome::kDone && ++records == kMaxRecords) break;
    }
    file.close();
    general_file.close();

    // The same file in blocks, after the same header reading.
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
    const brix::input::YearFields fields{n, keep.data(), n_kept};
    if (brix::input::read_year_blocks(fd, offset, fields, threads, block, collected, error) ==
        brix::input::BlocksEnd::kFailed)
      fail("block reading failed", error);
    if (collected.records != records)
      fail("block reading: records", long(collected.records), records);
    if (records > 0 && collected.first_year != first_year)
      fail("block reading: first year", collected.first_year, first_year);
    if (!kept.empty() && std::memcmp(kept.data(), collected.values.data(), kept.size() * 4) != 0)
      fail("block reading: values differ");
    file.close();
  }

  for (std::size_t i = 0; i < area.size(); ++i)
    if (!untouched(area[i]) || !untouched(general_area[i]))
      fail("written outside the receiving values", static_cast<long>(i));
  if (requests > lines)
    fail("more requests than lines", static_cast<long>(requests), static_cast<long>(lines));
  // Every line was read, unless the reading stopped at the record limit.
  if (requests < lines && requests < static_cast<std::size_t>(kMaxRecords))
    fail("a line left unread", static_cast<long>(requests), static_cast<long>(lines));
  return 0;
}
