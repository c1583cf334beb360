#include "records/write.h"

#include "records/put.h"

namespace brix::records {
namespace {

// A: the text at the column.
void write_text(Unit& unit, int& column, const Value& v, const Format& format) {
  if (v.kind() != Value::Kind::kText) value_mismatch(format);
  unit.put(column, v.text());
  column += static_cast<int>(v.text().size());
}

// Iw: the integer in w columns.
void write_integer(Unit& unit, int& column, const Descriptor& d, const Value& v,
                   const Format& format) {
  if (v.kind() != Value::Kind::kInteger) value_mismatch(format);
  put_integer(unit.place(column, d.w), d.w, v.integer());
  column += d.w;
}

// Fw.d: the real in w columns with d decimals.
void write_real(Unit& unit, int& column, const Descriptor& d, const Value& v,
                const Format& format) {
  if (v.kind() != Value::Kind::kReal) value_mismatch(format);
  put_real(unit.place(column, d.w), d.w, d.d, v.real());
  column += d.w;
}

// "/", X, T, quoted text and "$": moves the column or ends the line; "$"
// asks for the last line to be left open.
void position(Unit& unit, int& column, const Descriptor& d, bool& dollar) {
  switch (d.edit) {
    case Edit::kSlash:
      unit.end_line();
      column = 1;
      break;
    case Edit::kSkip:
      column += d.n;
      break;
    case Edit::kTab:
      column = d.n;
      break;
    case Edit::kText:
      unit.put(column, d.text);
      column += static_cast<int>(d.text.size());
      break;
    case Edit::kDollar:
      dollar = true;
      break;
    default:
      break;
  }
}

}  // namespace

void write(Unit& unit, const Format& format, std::initializer_list<Value> values) {
  write(unit, format, std::span<const Value>(values.begin(), values.size()));
}

void write(Unit& unit, const Format& format, std::span<const Value> values) {
  int column = unit.length() + 1;  // a line left open by "$" goes on at the cursor
  bool dollar = false;
  std::size_t next = 0;
  for (const Descriptor& d : format.descriptors()) {
    if (!d.is_data()) {
      position(unit, column, d, dollar);
      continue;
    }
    for (int r = 0; r < d.repeat; ++r) {
      if (next == values.size()) goto finished;
      const Value& v = values[next++];
      if (d.edit == Edit::kA) write_text(unit, column, v, format);
      else if (d.edit == Edit::kI) write_integer(unit, column, d, v, format);
      else write_real(unit, column, d, v, format);
    }
  }
finished:
  if (next != values.size()) value_mismatch(format);
  if (dollar) unit.hand_over();
  else unit.end_line();
}

}  // namespace brix::records
