// Free-form read requests: numbers separated by blanks, commas or line ends,
// with null values, "/" and repeat counts.
#pragma once

#include <initializer_list>
#include <span>

#include "records/read.h"

namespace brix::records {

// Serves integer and real targets (one variable each) from the next line of
// the unit on, passing over blank and empty lines; the rest of the last line
// read is skipped.
Outcome read_free(Unit& unit, std::span<const Target> targets, Handles handles);
inline Outcome read_free(Unit& unit, std::initializer_list<Target> targets,
                         Handles handles) {
  return read_free(unit, std::span<const Target>(targets.begin(), targets.size()),
                   handles);
}

}  // namespace brix::records
