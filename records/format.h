// Format texts and their edit descriptors.
//
// A format is written in the code exactly as the dialogue and the tables
// quote it, for example "(/1x,'Enter file name for XY coordinates',t45,'==> ',$)"
// or "(i5,12000f10.3)". It is parsed once into a list of edit descriptors,
// which the read and write requests (read.h, write.h) then carry out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brix::records {

enum class Edit {
  kSlash,   // "/"  ends the current line
  kSkip,    // "nX" moves the column n places to the right
  kTab,     // "Tn" moves to column n
  kText,    // 'quoted text'
  kDollar,  // "$"  leaves the last line open, without its LF
  kA,       // "A"  a whole text field
  kI,       // "Iw" an integer in w columns
  kF,       // "Fw.d" a real in w columns with d decimals
};

struct Descriptor {
  Edit edit = Edit::kSlash;
  int repeat = 1;    // data descriptors only: "3f8.2" is F8.2 three times
  int n = 0;         // nX and Tn: the count or the column
  int w = 0;         // Iw and Fw.d: the width
  int d = 0;         // Fw.d: the decimals
  std::string text;  // quoted text, without quotes, doubled quotes undone

  bool is_data() const { return edit == Edit::kA || edit == Edit::kI || edit == Edit::kF; }
};

class Format {
 public:
  // Parses a format text; a malformed text is a fault of the program itself
  // and throws std::invalid_argument naming the text and the place.
  explicit Format(std::string_view text);

  const std::vector<Descriptor>& descriptors() const { return descriptors_; }
  std::string_view text() const { return text_; }

 private:
  std::string text_;
  std::vector<Descriptor> descriptors_;
};

// A value or variable of a request that does not suit its descriptor, or a
// "/" where no unit gives the next line: a fault of the program itself.
// Throws std::invalid_argument naming the format.
[[noreturn]] void value_mismatch(const Format& format);

}  // namespace brix::records
