// The year records of a regular file, read in large blocks cut at line ends
// and converted on several threads, handed on in file order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "input/year_record.h"

namespace brix::input {

// What converting a run of year lines gave.
struct Converted {
  std::int64_t records = 0;     // lines read without error; their rows lie one after another
  std::int32_t first_year = 0;  // the year field of the first of them
  std::uint64_t stop = 0;       // offset of the first line left unconverted for want of room
  int error = 0;                // errno of a failed read; the lines before it are converted
};

// One thread's conversion of year lines read from a file at given offsets,
// each line by read_year_record with the kernel. Its buffers grow only for a
// longer line than any before.
class YearLines {
 public:
  YearLines(int fd, const KeptPoints& fields, FieldKernel kernel, std::size_t block_bytes);

  // Converts the lines that start in [from, to). With seek the first of them
  // is the one after the first LF at from - 1 or later, else one starts at
  // from. The last line runs on past `to` to its LF or to the end of the
  // file. Stores the kept values of at most `room` records (room >= 1) at
  // rows; stop is `to` when every line was converted.
  Converted convert(std::uint64_t from, std::uint64_t to, bool seek, float* rows,
                    std::int64_t room);

 private:
  // Reads more of the file after the bytes held, first dropping those before
  // `keep_from` (indices after it move down by as much). False at the end of
  // the file or on a failure (error_ set).
  bool read_more(std::size_t& keep_from, std::size_t& scanned);
  bool read_up_to(std::size_t size);

  int fd_;
  KeptPoints fields_;
  FieldKernel kernel_;
  std::size_t line_bytes_;  // a year line's length without its LF
  // File bytes from offset base_ on, in held_ of the size_ bytes of raw_.
  // Left uninitialised: only the pages that reads reach are ever touched.
  std::unique_ptr<char[]> raw_;
  std::size_t size_ = 0;
  std::size_t held_ = 0;
  std::uint64_t base_ = 0;
  bool end_of_file_ = false;
  int error_ = 0;
  std::vector<char> clean_;  // a line with its CRs removed and tabs expanded
};

// Where the records go, in file order.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  // The place of the next records, and how many fit there (at least 1).
  virtual float* place(std::int64_t& room) = 0;
  // Takes the records converted into rows (which may be place() itself).
  // False when they are more than the file may hold: the reading stops.
  virtual bool take(const float* rows, const Converted& converted) = 0;
};

enum class BlocksEnd { kEndOfFile, kFull, kFailed };

// Reads the year lines from offset start to the end of the regular file fd
// in blocks of block_bytes, converted on `threads` threads (the calling one
// among them) with the kernel, and hands them to the sink in file order on the
// calling thread. kFailed sets error to the errno of the failed read.
BlocksEnd read_year_blocks(int fd, std::uint64_t start, const KeptPoints& fields,
                           FieldKernel kernel, int threads, std::size_t block_bytes,
                           RecordSink& sink, int& error);

}  // namespace brix::input
