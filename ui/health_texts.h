// The window's words for a bus's health: each finding in plain Chinese with what to do about
// it, a module's reply times and errors, as the line diagnosis and the site report show them.
#pragma once

#include "bus_health.h"

#include <QCoreApplication>
#include <QString>

namespace lorvane {

inline const QString HEALTH_DIALOG_TITLE =
    QStringLiteral(QT_TRANSLATE_NOOP("health_texts", "线路诊断"));

// "两个模块可能共用地址 5……": what was found, and what to do.
QString finding_words(const health_finding& finding);

// "8.4 / 8.6 / 9.1 / 12.0 毫秒": min / median / p95 / max.
QString reply_summary_words(const reply_time_summary& times);

}  // namespace lorvane
