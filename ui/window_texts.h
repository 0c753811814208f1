// The window's own words for what the engine and the file access report: a file that cannot
// be opened or saved, a refused configuration file, and the differences a comparison found.
#pragma once

#include "config_compare.h"
#include "file_access.h"
#include "panel_file.h"

#include <QString>

#include <vector>

namespace lorvane {

// What is wrong with a refused file, in Chinese, naming the member as the command line
// names it and the accepted values.
QString panel_file_problem_text(const panel_file_error& error);

// Why a configuration file could not be opened (`saving` false) or saved, in Chinese; the
// system's own words only where no common cause fits, after the Chinese.
QString file_failure_text(const file_failure& failure, bool saving);

// A file name as the boxes show it: a byte of a name that is not UTF-8 as \xNN.
QString shown_file_name(const QString& path);

// The comparison's one message: the module holds what the window shows, or each
// difference on a line of its own ("按键3 线路：窗口 5，模块 7").
QString check_result_text(int module_address, const std::vector<config_difference>& differences);

}  // namespace lorvane
