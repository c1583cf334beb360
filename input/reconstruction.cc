#include "input/reconstruction.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "input/year_blocks.h"
#include "records/report.h"
#include "records/read.h"
#include "records/threads.h"
#include "records/write.h"

namespace brix::input {

using records::Format;
using records::Handles;
using records::Outcome;
using records::Target;

namespace {

// Maps the pages of [at, at + bytes) before they are first written, in one
// call rather than one page fault per page, which saves several per cent of
// a large run. Kernels without the call refuse it, and the pages fault in as
// usual.
void populate(void* at, std::size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto first = reinterpret_cast<std::uintptr_t>(at) & ~(page - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(at) + bytes;
  ::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
  (void)at;
  (void)bytes;
#endif
}

// Numbers the records in file order and puts each into its slot of
// band_sst. A record beyond the capacity is read into overflow_row, only to
// learn whether the file really holds one more year.
class Slots : public RecordSink {
 public:
  explicit Slots(RunData& data) : data_(data) {}
  float* place(std::int64_t& room) override {
    if (next_ > max_years) {
      room = 1;
      return overflow_row_;
    }
    room = max_years - next_ + 1;
    return data_.band_row(next_);
  }
  bool take(const float* rows, const Converted& converted) override {
    if (converted.records == 0) return true;
    if (next_ == 1) data_.first_year = converted.first_year;
    const std::int64_t fit = std::min<std::int64_t>(converted.records, max_years - next_ + 1);
    const std::size_t bytes =
        static_cast<std::size_t>(fit) * static_cast<std::size_t>(data_.n_band) * sizeof(float);
    if (bytes > 0 && rows != data_.band_row(next_)) {
      populate(data_.band_row(next_), bytes);
      std::memcpy(data_.band_row(next_), rows, bytes);
    }
    if (fit < converted.records) return false;
    next_ += static_cast<int>(fit);
    return true;
  }
  int records() const { return next_ - 1; }

 private:
  RunData& data_;
  int next_ = 1;  // the slot of the next record
  float overflow_row_[max_points];
};

[[noreturn]] void too_many(const records::Unit& file) {
  records::report(records::Statement::kRead, file,
                  "Too many year records (more than " + std::to_string(max_years) + ")");
}

}  // namespace

ReadMode ReadMode::from_environment() {
  ReadMode mode;
  mode.threads = records::worker_threads();
  return mode;
}

void read_reconstruction(records::Unit& file, records::Unit& console, RunData& data,
                         const ReadMode& mode) {
  static const Format kHeader("(a)");
  static const Format kEcho("(/1x,'Recon data read in: ',3i6)");

  const KeptPoints fields{data.n_points, data.band_keep, data.n_band};

  records::TextField<80> recon_header;
  records::read(file, kHeader, {Target::text(recon_header)}, Handles::kNeither);

  Slots slots(data);
  int fd;
  std::uint64_t offset;
  if (mode.threads > 0 && file.regular_input(fd, offset)) {
    int error = 0;
    switch (read_year_blocks(fd, offset, fields, mode.kernel, mode.threads, mode.block_bytes, slots,
                             error)) {
      case BlocksEnd::kEndOfFile:
        break;
      case BlocksEnd::kFull:
        too_many(file);
      case BlocksEnd::kFailed:
        records::report_system(records::Statement::kRead, file, error);
    }
  } else {
    std::string_view line;
    while (file.next_line(line)) {
      std::int64_t room;
      float* row = slots.place(room);
      Converted converted;
      if (read_year_record(line, fields, mode.kernel, converted.first_year, row) != Outcome::kDone)
        continue;  // the next line takes this slot
      converted.records = 1;
      if (!slots.take(row, converted)) too_many(file);
    }
  }
  data.n_years = slots.records();
  data.last_year = data.first_year + data.n_years - 1;
  records::write(console, kEcho, {data.first_year, data.last_year, data.n_years});
  file.close();
}

}  // namespace brix::input
