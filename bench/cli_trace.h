// Reading lorvane-cli's --trace: how long a whole transfer took on the line.
#pragma once

#include <QString>

namespace lorvane::bench {

// From the first TX to the 17th accepted RX of a --trace, in ms; throws when the trace
// does not show 17 accepted replies.
double traced_transfer_ms(const QString& trace);

}  // namespace lorvane::bench
