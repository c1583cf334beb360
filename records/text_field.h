// A fixed-length text field, as the requests read and write it.
#pragma once

#include <cstddef>
#include <string_view>

namespace brix::records {

// A fixed-length, blank-padded text field.
template <std::size_t N>
struct TextField {
  char chars[N];
  TextField() { blank(); }
  void blank() {
    for (char& c : chars) c = ' ';
  }
  std::string_view view() const { return {chars, N}; }
};

}  // namespace brix::records
