// Write requests: values put on a unit's lines through a format.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "records/format.h"
#include "records/text_field.h"
#include "records/unit.h"

namespace brix::records {

// One value of a write request.
class Value {
 public:
  enum class Kind { kInteger, kReal, kText };
  Value(std::int32_t i) : kind_(Kind::kInteger), integer_(i) {}
  Value(float r) : kind_(Kind::kReal), real_(r) {}
  Value(std::string_view t) : kind_(Kind::kText), text_(t) {}
  template <std::size_t N>
  Value(const TextField<N>& t) : kind_(Kind::kText), text_(t.view()) {}
  Value(double) = delete;  // every real written is a 32-bit real

  Kind kind() const { return kind_; }
  std::int32_t integer() const { return integer_; }
  float real() const { return real_; }
  std::string_view text() const { return text_; }

 private:
  Kind kind_;
  std::int32_t integer_ = 0;
  float real_ = 0.0f;
  std::string_view text_;
};

// Writes the values through the format on the unit: one or more lines.
void write(Unit& unit, const Format& format, std::initializer_list<Value> values = {});
void write(Unit& unit, const Format& format, std::span<const Value> values);

}  // namespace brix::records
