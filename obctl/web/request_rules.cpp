#include "request_rules.h"

#include <arpa/inet.h>
#include <strings.h>

namespace obctl {

namespace {

bool is_port(const std::string& text) {
    if (text.empty() || text.size() > 5) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return std::stoi(text) <= 65535;
}

bool same_name(const std::string& a, const std::string& b) {
    return !a.empty() && a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

bool host_allowed(const std::string& host, const std::string& own_name) {
    std::string name = host;
    if (!name.empty() && name[0] == '[') {
        const size_t close = name.find(']');
        if (close == std::string::npos) return false;
        const std::string rest = name.substr(close + 1);
        if (!rest.empty() && (rest[0] != ':' || !is_port(rest.substr(1)))) return false;
        const std::string address = name.substr(1, close - 1);
        unsigned char bytes[16];
        return inet_pton(AF_INET6, address.c_str(), bytes) == 1;
    }
    const size_t colon = name.find(':');
    if (colon != std::string::npos) {
        if (!is_port(name.substr(colon + 1))) return false;
        name.erase(colon);
    }
    unsigned char bytes[4];
    if (inet_pton(AF_INET, name.c_str(), bytes) == 1) return true;
    return same_name(name, "localhost") ||
           (!own_name.empty() &&
            (same_name(name, own_name) || same_name(name, own_name + ".local")));
}

bool origin_matches(const std::string& origin, const std::string& host) {
    return origin == "http://" + host;
}

}  // namespace obctl
