#include "tables/value.h"

#include <utility>

namespace tables {

Value Value::Integer(std::int64_t v) {
  Value value;
  value.kind_ = Kind::kInteger;
  value.integer_ = v;
  return value;
}

Value Value::Float(double v) {
  Value value;
  value.kind_ = Kind::kFloat;
  value.real_ = v;
  return value;
}

Value Value::Text(std::string utf8) {
  Value value;
  value.kind_ = Kind::kText;
  value.text_ = std::move(utf8);
  return value;
}

Value Value::FromDate(Date d) {
  Value value;
  value.kind_ = Kind::kDate;
  value.date_ = d;
  return value;
}

Value Value::Logical(bool v) {
  Value value;
  value.kind_ = Kind::kLogical;
  value.logical_ = v;
  return value;
}

}  // namespace tables
