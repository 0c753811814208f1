// The platform's DNS-SD service behind dnssd_browser: one implementation per build (Avahi,
// Windows' dnsapi, or none), which tells the browser what it learns.
#pragma once

#include "dnssd_browser.h"

#include <memory>

namespace lorvane {

class dnssd_backend
{
public:
    virtual ~dnssd_backend() = default;
};

// Begins browsing for `browser`, or calls browser.fail() and returns nothing. Called from the
// event loop; the backend lives until the browser is destroyed.
std::unique_ptr<dnssd_backend> make_dnssd_backend(dnssd_browser& browser);

}  // namespace lorvane
