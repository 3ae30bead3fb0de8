// A column value of any type, as read from one table and written into another: the unit in which
// values travel between tables of different layouts.
#pragma once

#include <cstdint>
#include <string>

namespace tables {

// A calendar date. Only valid dates are ever stored in a Value.
struct Date {
  int year = 0;
  int month = 0;
  int day = 0;
  friend bool operator==(const Date& a, const Date& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day;
  }
};

class Value {
 public:
  enum class Kind { kBlank, kInteger, kFloat, kText, kDate, kLogical };

  Value() = default;  // blank
  static Value Integer(std::int64_t v);
  static Value Float(double v);
  static Value Text(std::string utf8);
  static Value FromDate(Date d);
  static Value Logical(bool v);

  Kind kind() const { return kind_; }
  bool blank() const { return kind_ == Kind::kBlank; }
  std::int64_t integer() const { return integer_; }
  double real() const { return real_; }
  const std::string& text() const { return text_; }
  Date date() const { return date_; }
  bool logical() const { return logical_; }

 private:
  Kind kind_ = Kind::kBlank;
  std::int64_t integer_ = 0;
  double real_ = 0;
  std::string text_;
  Date date_;
  bool logical_ = false;
};

}  // namespace tables
