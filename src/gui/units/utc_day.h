#pragma once

#include <QDate>

#include <chrono>

namespace tolvane {

// Days as the record counts them: UTC.
std::chrono::sys_days todayUtc();
QDate dateOf(std::chrono::sys_days day);
std::chrono::sys_days dayOf(const QDate& date);

} // namespace tolvane
