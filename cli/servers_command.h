// lorvane-cli servers: the serial servers found on the network by DNS-SD, and what the other
// commands say about discovery and `dnssd:NAME` ports.
#pragma once

#include "dnssd_browser.h"
#include "serial_device.h"

#include <QStringList>

#include <optional>
#include <variant>
#include <vector>

namespace lorvane::cli {

class interrupt_watch;

inline constexpr int DEFAULT_DISCOVERY_WAIT_MS = 2000;
inline constexpr int MAX_DISCOVERY_WAIT_MS = 60'000;

// Runs `lorvane-cli servers ...` (arguments[1] is "servers") and returns the exit code.
int run_servers(const QStringList& arguments);

// Browses for `wait_ms` and returns what was found (sorted by name), or the exit code after
// telling why discovery could not run or was interrupted.
std::variant<std::vector<dnssd_service>, int> discover_servers(int wait_ms,
                                                               interrupt_watch& interrupts);

// Why discovery cannot run, in words.
QString discovery_problem_text(const discovery_problem& problem);

// The words for a dnssd:NAME port that could not be opened; nothing for the other kinds.
std::optional<QString> dnssd_failure_text(const port_failure& failure);

}  // namespace lorvane::cli
