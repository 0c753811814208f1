// The words of lorvane-cli that need more than one line to build: records, ports, the
// trace's verdicts, a verify's differences.
#pragma once

#include "config_compare.h"
#include "frame.h"
#include "frame_stream.h"
#include "line_operation.h"
#include "panel_config.h"
#include "serial_device.h"

#include <QString>
#include <QStringList>

namespace lorvane::cli {

// "record 0 (refresh period)", "record 5 (key 5)".
QString record_name(int record);

// What became of a received item, for the trace: "rejected (...)" for an echoed request or
// bytes that form no frame, "accepted" (it answers `request`, the request on the line, and
// moves the transfer or the scan on), or "ignored (...)" saying why.
QString trace_verdict(const frame_stream::item& item, item_fate fate, const frame& request);

// The differences between what a module should hold and what it holds, one line each.
QStringList differences(const std::vector<config_difference>& found);

}  // namespace lorvane::cli
