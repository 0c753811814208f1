// The DNS-SD backend of a build without a DNS-SD library: discovery is not available.
#include "dnssd_backend.h"

namespace lorvane {

std::unique_ptr<dnssd_backend> make_dnssd_backend(dnssd_browser& browser)
{
    browser.fail({discovery_fault::unavailable, {}});
    return nullptr;
}

}  // namespace lorvane
