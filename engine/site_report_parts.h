// The report's parts besides its buses: the files a run used with their SHA-256, and the
// as-built appendix. Only for the report's own use.
#pragma once

#include "site_report.h"

#include <QString>

namespace lorvane {

// The site file and every panel file the run used, each with its SHA-256, and the tool and its
// version; nothing when the report was given no digests.
QString files_section(const site_result& result, const report_facts& facts,
                      const site_report_words& words);

// Every module's 16 keys (target address, line, operation), refresh period and panel file, from
// `plan`'s panels; a module no panel names, from what was read of it (when it was read).
QString as_built_section(const site_result& result, const site_plan& plan,
                         const site_report_words& words);

// The styles of these parts, of the index and of compact buses, and the page's print layout.
extern const char* const PARTS_STYLE;

}  // namespace lorvane
