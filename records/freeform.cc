#include "records/freeform.h"

#include <algorithm>
#include <climits>

#include "records/get.h"

namespace brix::records {
namespace {

enum class Item { kValue, kNull, kSlash, kRepeat, kEnd };

// The scan of one free-form request over the lines of its unit.
class Scanner {
 public:
  Scanner(Unit& unit, std::string_view line) : unit_(unit), line_(line) {}

  // Finds the next item: a value text, a null value (a comma), a "/" (left in
  // place), a repeat count "r*" (its count in repeat), or the end of the
  // file. Passes over blanks and line ends.
  Item next(std::string_view& text, int& repeat) {
    for (;;) {
      skip_blanks();
      if (pos_ == line_.size()) {
        if (!unit_.next_line(line_)) return Item::kEnd;
        pos_ = 0;
        continue;
      }
      char c = line_[pos_];
      if (c == '/') return Item::kSlash;
      if (c == ',') {
        ++pos_;
        if (separator_pending_) {  // the comma belongs to the separator before
          separator_pending_ = false;
          continue;
        }
        return Item::kNull;
      }
      if ((repeat = repeat_count()) > 0) return Item::kRepeat;
      std::size_t start = pos_;
      while (pos_ < line_.size() && line_[pos_] != ' ' && line_[pos_] != ',' &&
             line_[pos_] != '/')
        ++pos_;
      text = line_.substr(start, pos_ - start);
      if (pos_ < line_.size() && line_[pos_] == ',') {
        ++pos_;
      } else if (pos_ < line_.size() && line_[pos_] == ' ') {
        skip_blanks();
        if (pos_ < line_.size() && line_[pos_] == ',') ++pos_;
        else if (pos_ == line_.size()) separator_pending_ = true;
      } else if (pos_ == line_.size()) {
        separator_pending_ = true;
      }
      return Item::kValue;
    }
  }

 private:
  // A positive count without a leading zero followed at once by "*":
  // consumes both and returns the count, else consumes nothing and returns 0.
  int repeat_count() {
    std::size_t i = pos_;
    if (line_[i] < '1' || line_[i] > '9') return 0;
    long long r = 0;
    while (i < line_.size() && line_[i] >= '0' && line_[i] <= '9') {
      r = std::min<long long>(r * 10 + (line_[i] - '0'), INT_MAX);
      ++i;
    }
    if (i >= line_.size() || line_[i] != '*') return 0;
    pos_ = i + 1;
    return static_cast<int>(r);
  }

  void skip_blanks() {
    while (pos_ < line_.size() && line_[pos_] == ' ') ++pos_;
  }

  Unit& unit_;
  std::string_view line_;
  std::size_t pos_ = 0;
  bool separator_pending_ = false;
};

}  // namespace

Outcome read_free(Unit& unit, std::span<const Target> targets, Handles handles) {
  std::string_view line;
  if (!unit.next_line(line)) return settle(unit, Outcome::kEnd, handles);
  Scanner scan(unit, line);

  int copies = 0;  // copies of a repeated item still to hand out
  Item repeated = Item::kNull;
  std::string_view repeated_text;
  for (const Target& t : targets) {
    for (int element = 0; element < t.count; ++element) {
      Item item;
      std::string_view text;
      if (copies > 0) {
        --copies;
        item = repeated;
        text = repeated_text;
      } else {
        int r = 0;
        item = scan.next(text, r);
        if (item == Item::kRepeat) {
          // Whatever comes after "r*" is handed out r times; a second count
          // there is taken as a value text, which no number can be.
          int ignored = 0;
          item = scan.next(text, ignored);
          if (item == Item::kRepeat) item = Item::kValue, text = "*";
          repeated = item;
          repeated_text = text;
          copies = r - 1;
        }
      }
      switch (item) {
        case Item::kEnd:
          return settle(unit, Outcome::kEnd, handles);
        case Item::kSlash:
          return Outcome::kDone;
        case Item::kNull:
        case Item::kRepeat:
          break;
        case Item::kValue: {
          bool ok;
          if (t.kind == Target::Kind::kInteger) {
            ok = get_integer_value(text, static_cast<std::int32_t*>(t.first)[element * t.stride]);
          } else {
            ok = get_real(text, 0, static_cast<float*>(t.first)[element * t.stride]);
          }
          if (!ok) return settle(unit, Outcome::kError, handles);
          break;
        }
      }
    }
  }
  return Outcome::kDone;
}

}  // namespace brix::records
