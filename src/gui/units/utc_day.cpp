#include "gui/units/utc_day.h"

namespace tolvane {

std::chrono::sys_days todayUtc()
{
    return std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
}

QDate dateOf(std::chrono::sys_days day)
{
    const std::chrono::year_month_day date(day);
    return QDate(static_cast<int>(date.year()), static_cast<int>(unsigned(date.month())),
                 static_cast<int>(unsigned(date.day())));
}

std::chrono::sys_days dayOf(const QDate& date)
{
    return std::chrono::sys_days(std::chrono::year(date.year()) /
                                 static_cast<unsigned>(date.month()) /
                                 static_cast<unsigned>(date.day()));
}

} // namespace tolvane
