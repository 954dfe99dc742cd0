// What a request must carry before the server looks at what it asks, so that
// no other web site can use the page through the user's browser: a Host
// that is the box (an IP address or its own host name; a name that some
// other site's DNS points at the box is refused), and for every change a
// header no cross-site form can send and an Origin, when there is one, that
// is the page's own.
#pragma once

#include <string>

namespace obctl {

// The header every change carries; a form of another site cannot set it, and
// a script of another site cannot send it without the box's consent, which
// it never gives.
constexpr const char* change_header = "X-Orbiel";

// host: the Host header ("192.168.1.20:8190", "[fe80::1]:8190", "dm900").
// Allowed: an IPv4 or IPv6 address, localhost, the box's own host name or that
// name in .local, each with an optional port.
bool host_allowed(const std::string& host, const std::string& own_name);

// origin (the Origin header) names the page at host: "http://" + host.
bool origin_matches(const std::string& origin, const std::string& host);

}  // namespace obctl
