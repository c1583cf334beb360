#include "records/format.h"

#include <cctype>
#include <stdexcept>

namespace brix::records {
namespace {

Descriptor make(Edit edit, int n = 0, int w = 0) {
  Descriptor d;
  d.edit = edit;
  d.n = n;
  d.w = w;
  return d;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::vector<Descriptor> parse() {
    std::vector<Descriptor> out;
    skip_blanks();
    expect('(');
    for (;;) {
      skip_blanks();
      if (at_end()) fail("missing ')'");
      char c = text_[pos_];
      if (c == ')') {
        ++pos_;
        break;
      }
      if (c == ',') {
        ++pos_;
        continue;
      }
      if (c == '/') {
        ++pos_;
        out.push_back(make(Edit::kSlash));
        continue;
      }
      if (c == '$') {
        ++pos_;
        out.push_back(make(Edit::kDollar));
        continue;
      }
      if (c == '\'' || c == '"') {
        out.push_back(make(Edit::kText));
        out.back().text = quoted(c);
        continue;
      }
      int count = -1;
      if (std::isdigit(static_cast<unsigned char>(c))) count = number();
      skip_blanks();
      if (at_end()) fail("descriptor expected");
      char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(text_[pos_++])));
      Descriptor d = make(Edit::kA);
      switch (letter) {
        case 'x':
          if (count < 0) count = 1;
          d = make(Edit::kSkip, count);
          break;
        case 't':
          if (count >= 0) fail("a count before T");
          d = make(Edit::kTab, width());
          if (d.n < 1) fail("T needs a column of at least 1");
          break;
        case 'a':
          d = make(Edit::kA);
          break;
        case 'i':
          d = make(Edit::kI, 0, width());
          break;
        case 'f':
          d = make(Edit::kF, 0, width());
          skip_blanks();
          expect('.');
          d.d = width();
          if (d.w < d.d + 2) fail("an F field needs room for a point and a digit");
          break;
        default:
          fail("unknown descriptor");
      }
      if (d.is_data()) {
        if (count == 0) fail("a repeat count of 0");
        d.repeat = count < 0 ? 1 : count;
      } else if (letter != 'x' && count >= 0) {
        fail("a count before a descriptor that takes none");
      }
      if (d.is_data() && d.edit != Edit::kA && d.w < 1) fail("a width of 0");
      out.push_back(std::move(d));
    }
    skip_blanks();
    if (!at_end()) fail("text after the closing ')'");
    return out;
  }

 private:
  bool at_end() const { return pos_ >= text_.size(); }
  void skip_blanks() {
    while (!at_end() && text_[pos_] == ' ') ++pos_;
  }
  void expect(char c) {
    if (at_end() || text_[pos_] != c) fail(std::string("'") + c + "' expected");
    ++pos_;
  }
  int number() {
    long v = 0;
    while (!at_end() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
      v = v * 10 + (text_[pos_++] - '0');
      if (v > 1000000) fail("number too large");
    }
    return static_cast<int>(v);
  }
  int width() {
    skip_blanks();
    if (at_end() || !std::isdigit(static_cast<unsigned char>(text_[pos_]))) fail("width expected");
    return number();
  }
  std::string quoted(char quote) {
    std::string s;
    ++pos_;
    for (;;) {
      if (at_end()) fail("unterminated text");
      char c = text_[pos_++];
      if (c == quote) {
        if (!at_end() && text_[pos_] == quote) {  // a doubled quote stands for one
          s += quote;
          ++pos_;
          continue;
        }
        return s;
      }
      s += c;
    }
  }
  [[noreturn]] void fail(const std::string& why) const {
    throw std::invalid_argument("format " + std::string(text_) + ": " + why + " at " +
                                std::to_string(pos_ + 1));
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

Format::Format(std::string_view text) : text_(text), descriptors_(Parser(text).parse()) {}

void value_mismatch(const Format& format) {
  throw std::invalid_argument("value does not suit its descriptor in " +
                              std::string(format.text()));
}

}  // namespace brix::records
