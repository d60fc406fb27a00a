#include "platform/locale_settings.h"

#include <langinfo.h>
#include <locale.h>

namespace logvane::platform {

namespace {

// A locale object for one category mask, or 0 when the environment names a
// locale that is not installed.
class ScopedLocale {
 public:
  explicit ScopedLocale(int mask) : loc_(newlocale(mask, "", static_cast<locale_t>(0))) {}
  ~ScopedLocale() {
    if (loc_ != static_cast<locale_t>(0)) freelocale(loc_);
  }
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;

  std::string Item(nl_item item) const {
    if (loc_ == static_cast<locale_t>(0)) return {};
    const char* text = nl_langinfo_l(item, loc_);
    return text != nullptr ? std::string(text) : std::string();
  }

 private:
  locale_t loc_;
};

}  // namespace

LocaleStrings ReadUserLocale() {
  LocaleStrings s;
  ScopedLocale numeric(LC_NUMERIC_MASK);
  s.decimal_point = numeric.Item(RADIXCHAR);

  ScopedLocale time(LC_TIME_MASK);
  s.date_format = time.Item(D_FMT);
  s.time_format = time.Item(T_FMT);
  s.time_format_ampm = time.Item(T_FMT_AMPM);
  s.am = time.Item(AM_STR);
  s.pm = time.Item(PM_STR);
  static constexpr nl_item kShortDays[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4,
                                            ABDAY_5, ABDAY_6, ABDAY_7};
  static constexpr nl_item kLongDays[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
  static constexpr nl_item kShortMonths[12] = {ABMON_1, ABMON_2,  ABMON_3,  ABMON_4,
                                               ABMON_5, ABMON_6,  ABMON_7,  ABMON_8,
                                               ABMON_9, ABMON_10, ABMON_11, ABMON_12};
  static constexpr nl_item kLongMonths[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                              MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
  for (int i = 0; i < 7; ++i) {
    s.short_day_names[i] = time.Item(kShortDays[i]);
    s.long_day_names[i] = time.Item(kLongDays[i]);
  }
  for (int i = 0; i < 12; ++i) {
    s.short_month_names[i] = time.Item(kShortMonths[i]);
    s.long_month_names[i] = time.Item(kLongMonths[i]);
  }
  return s;
}

}  // namespace logvane::platform
