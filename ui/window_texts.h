// The window's own words for what the engine and the file reader report: a refused
// configuration file, and the differences a comparison found.
#pragma once

#include "config_compare.h"
#include "panel_file.h"

#include <QString>

#include <vector>

namespace lorvane {

// What is wrong with a refused file, in Chinese, naming the member as the command line
// names it and the accepted values.
QString panel_file_problem_text(const panel_file_error& error);

// The comparison's one message: the module holds what the window shows, or each
// difference on a line of its own ("按键3 线路：窗口 5，模块 7").
QString check_result_text(int module_address, const std::vector<config_difference>& differences);

}  // namespace lorvane
