#include "input/year_blocks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "records/ordered_window.h"
#include "records/unit.h"

namespace brix::input {

using records::Outcome;

namespace {
constexpr std::size_t kMinRead = std::size_t{64} << 10;  // bytes read at least to finish a line
constexpr std::uint64_t kToEnd = std::numeric_limits<std::uint64_t>::max();
}  // namespace

YearLines::YearLines(int fd, const KeptPoints& fields, FieldKernel kernel, std::size_t block_bytes)
    : fd_(fd),
      fields_(fields),
      kernel_(kernel),
      line_bytes_(year_line_length(fields.n_points)),
      raw_(new char[block_bytes + kMinRead]),
      size_(block_bytes + kMinRead) {}

bool YearLines::read_up_to(std::size_t size) {
  if (size_ < size) {  // a line longer than any before
    const std::size_t grown = std::max(size, 2 * size_);
    std::unique_ptr<char[]> raw(new char[grown]);
    std::memcpy(raw.get(), raw_.get(), held_);
    raw_ = std::move(raw);
    size_ = grown;
  }
  while (held_ < size && !end_of_file_) {
    ssize_t n = ::pread(fd_, raw_.get() + held_, size - held_, static_cast<off_t>(base_ + held_));
    if (n > 0) {
      held_ += static_cast<std::size_t>(n);
    } else if (n == 0) {
      end_of_file_ = true;
    } else if (errno != EINTR) {
      error_ = errno;
      return false;
    }
  }
  return true;
}

bool YearLines::read_more(std::size_t& keep_from, std::size_t& scanned) {
  if (end_of_file_ || error_ != 0) return false;
  if (keep_from > 0) {
    std::memmove(raw_.get(), raw_.get() + keep_from, held_ - keep_from);
    held_ -= keep_from;
    base_ += keep_from;
    scanned -= keep_from;
    keep_from = 0;
  }
  const std::size_t before = held_;
  return read_up_to(held_ + std::max(kMinRead, held_)) && held_ > before;
}

Converted YearLines::convert(std::uint64_t from, std::uint64_t to, bool seek, float* rows,
                             std::int64_t room) {
  Converted c;
  c.stop = to;
  base_ = seek ? from - 1 : from;
  held_ = 0;
  end_of_file_ = false;
  error_ = 0;
  const std::size_t span = static_cast<std::size_t>(std::min<std::uint64_t>(to - base_, size_));
  if (!read_up_to(span)) {
    c.error = error_;
    return c;
  }
  std::size_t s = 0;  // where the next line starts, in raw_
  if (seek) {
    // The first line starts after the first LF at from - 1 or later.
    const void* lf = std::memchr(raw_.get(), '\n', std::min(held_, span));
    if (lf == nullptr) return c;
    s = static_cast<std::size_t>(static_cast<const char*>(lf) - raw_.get()) + 1;
  }
  while (base_ + s < to) {
    std::int32_t year = 0;
    float* row = rows + c.records * fields_.n_kept;
    Outcome outcome = Outcome::kError;
    // Where an LF stands at the usual length, the bytes before it are read
    // in place first, with no search for the line's end and no cleaning:
    // read whole in plain form, they are the line. Anything else is read
    // again the general way.
    const std::size_t usual_end = s + line_bytes_;
    bool plain = false;
    if (kernel_ != FieldKernel::kGeneral && usual_end < held_ && raw_[usual_end] == '\n')
      outcome =
          read_year_record({raw_.get() + s, line_bytes_}, fields_, kernel_, year, row, &plain);
    if (plain) {
      s = usual_end + 1;
    } else {
      std::size_t scanned = s;
      const char* lf;
      for (;;) {
        lf = static_cast<const char*>(std::memchr(raw_.get() + scanned, '\n', held_ - scanned));
        if (lf != nullptr) break;
        scanned = held_;
        if (!read_more(s, scanned)) break;
      }
      if (error_ != 0) {
        c.error = error_;
        return c;
      }
      const std::size_t end = lf != nullptr ? static_cast<std::size_t>(lf - raw_.get()) : held_;
      if (lf == nullptr && s == held_) break;  // nothing left before the end of the file
      std::string_view line = records::clean_line(raw_.get() + s, end - s, clean_);
      outcome = read_year_record(line, fields_, kernel_, year, row);
      s = lf != nullptr ? end + 1 : end;
    }
    if (outcome == Outcome::kDone) {
      if (c.records == 0) c.first_year = year;
      if (++c.records == room && base_ + s < to) {
        c.stop = base_ + s;
        return c;
      }
    }
  }
  return c;
}

BlocksEnd read_year_blocks(int fd, std::uint64_t start, const KeptPoints& fields,
                           FieldKernel kernel, int threads, std::size_t block_bytes,
                           RecordSink& sink, int& error) {
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    error = errno;
    return BlocksEnd::kFailed;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  // A file smaller than a block is one block, with buffers of its own size.
  block_bytes = static_cast<std::size_t>(std::clamp<std::uint64_t>(
      block_bytes, 1, std::max<std::uint64_t>(size > start ? size - start : 0, 1)));
  // The last block runs to the end of the file, wherever that is by then.
  const std::uint64_t n_blocks = size > start ? (size - start + block_bytes - 1) / block_bytes : 1;
  auto from = [&](std::uint64_t b) { return start + b * block_bytes; };
  auto to = [&](std::uint64_t b) { return b + 1 == n_blocks ? kToEnd : from(b + 1); };

  // A block of whole records holds at most this many; one of shorter lines
  // may hold more, and then the calling thread converts the rest in place.
  const std::int64_t room =
      fields.n_kept == 0
          ? std::numeric_limits<std::int64_t>::max()
          : static_cast<std::int64_t>(block_bytes / (year_line_length(fields.n_points) + 1) + 2);
  const std::size_t window = 2 * static_cast<std::size_t>(threads);  // blocks in flight
  struct Slot {
    std::unique_ptr<float[]> rows;  // uninitialised, as the raw bytes
    Converted converted;
  };
  std::vector<Slot> slots(window);
  for (Slot& slot : slots)
    if (fields.n_kept > 0)
      slot.rows.reset(new float[static_cast<std::size_t>(room) * fields.n_kept]);
  std::vector<YearLines> lines;
  lines.reserve(static_cast<std::size_t>(threads));
  for (int t = 0; t < threads; ++t) lines.emplace_back(fd, fields, kernel, block_bytes);

  auto convert = [&](std::size_t b, int worker) {
    Slot& slot = slots[b % window];
    slot.converted = lines[static_cast<std::size_t>(worker)].convert(from(b), to(b), b > 0,
                                                                     slot.rows.get(), room);
  };
  // The blocks go to the sink in order, the records that did not fit in a
  // block's slot converted in place by the calling thread (worker 0).
  BlocksEnd end = BlocksEnd::kEndOfFile;
  auto hand = [&](std::size_t b) {
    const Slot& slot = slots[b % window];
    Converted c = slot.converted;
    bool more = sink.take(slot.rows.get(), c);
    while (more && c.error == 0 && c.stop < to(b)) {
      std::int64_t free_room;
      float* place = sink.place(free_room);
      c = lines[0].convert(c.stop, to(b), false, place, free_room);
      more = sink.take(place, c);
    }
    if (!more) {
      end = BlocksEnd::kFull;
    } else if (c.error != 0) {
      error = c.error;
      end = BlocksEnd::kFailed;
    }
    return end == BlocksEnd::kEndOfFile;
  };
  records::OrderedWindow blocks(static_cast<std::size_t>(n_blocks), window, threads, convert);
  blocks.finish(hand);
  return end;
}

}  // namespace brix::input
