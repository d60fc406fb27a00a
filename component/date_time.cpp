#include "component/date_time.h"

#include <cmath>

namespace logvane {

namespace {

// Days from 1 March of year 0 to 1 January 0001 (306), less one so that
// 1 January 0001 is day 1.
constexpr int64_t kEpochShift = 305;

}  // namespace

// Civil-date arithmetic on eras of 400 years (146097 days), counting from
// 1 March so that the leap day ends the year.
int32_t DayNumberFromDate(int year, int month, int day) {
  int64_t y = year - (month <= 2 ? 1 : 0);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t mp = (month + 9) % 12;
  int64_t doy = (153 * mp + 2) / 5 + day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<int32_t>(era * 146097 + doe - kEpochShift);
}

TCivilDate DateFromDayNumber(int32_t day_number) {
  int64_t z = static_cast<int64_t>(day_number) + kEpochShift;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  return {year, month, day};
}

int DayOfWeek(int32_t day_number) {
  // Day 1 (1 January 0001) was a Monday.
  return static_cast<int>((day_number % 7 + 7) % 7);
}

bool StoredDaysToMillis(double days, double* millis) {
  if (!std::isfinite(days)) return false;
  double whole = std::trunc(days);
  double day_number = whole + kDateDelta;
  if (day_number < 1 || day_number > kMaxDayNumber) return false;
  double msec = std::round(std::fabs(days - whole) * static_cast<double>(kMSecsPerDay));
  *millis = day_number * static_cast<double>(kMSecsPerDay) + msec;
  return true;
}

double MillisToStoredDays(double millis) {
  int64_t day = 0;
  int64_t msec = 0;
  if (std::isfinite(millis)) {
    double count = std::round(millis);
    if (count >= 0 && count < static_cast<double>((kMaxDayNumber + 1) * kMSecsPerDay)) {
      auto whole = static_cast<int64_t>(count);
      day = whole / kMSecsPerDay;
      msec = whole % kMSecsPerDay;
    }
  }
  double date = static_cast<double>(day - kDateDelta);
  double time = static_cast<double>(msec) / static_cast<double>(kMSecsPerDay);
  return date < 0 ? date - time : date + time;
}

bool SplitMillis(double millis, int32_t* day_number, int32_t* msec_of_day) {
  if (!std::isfinite(millis)) return false;
  double count = std::round(millis);
  if (count < static_cast<double>(kMSecsPerDay) ||
      count >= static_cast<double>((kMaxDayNumber + 1) * kMSecsPerDay)) {
    return false;
  }
  auto whole = static_cast<int64_t>(count);
  *day_number = static_cast<int32_t>(whole / kMSecsPerDay);
  *msec_of_day = static_cast<int32_t>(whole % kMSecsPerDay);
  return true;
}

}  // namespace logvane
