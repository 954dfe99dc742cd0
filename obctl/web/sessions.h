// Who may use the page: the sessions a correct password opened, and the
// slow-down of wrong passwords from one address. Kept in memory only, so a
// restart of the server ends every session.
#pragma once

#include <stdint.h>

#include <map>
#include <mutex>
#include <string>

namespace obctl {

class Sessions {
public:
    // idle_ms: a session unused that long is over.
    explicit Sessions(int64_t idle_ms) : idle_ms_(idle_ms) {}

    // A new session's key (64 hexadecimal digits, 256 bits from the kernel's
    // random source); "" when the source fails.
    std::string open(int64_t now_ms);
    // Whether key names a live session; its idle time starts again.
    bool use(const std::string& key, int64_t now_ms);
    void close(const std::string& key);

private:
    static constexpr size_t most = 32;  // the least recently used goes first
    int64_t idle_ms_;
    std::mutex lock_;
    std::map<std::string, int64_t> last_use_;
};

// After `free_tries` wrong passwords from one address, each further try from
// it waits before it is checked: first_wait_ms, then twice as long each time,
// at most a minute. A correct password, once checked, clears the address.
class LoginThrottle {
public:
    explicit LoginThrottle(int64_t first_wait_ms) : first_wait_ms_(first_wait_ms) {}

    static constexpr int free_tries = 5;
    static constexpr int64_t longest_wait_ms = 60 * 1000;

    // How long a try from address waits now.
    int64_t wait_ms(const std::string& address);
    void failed(const std::string& address, int64_t now_ms);
    void succeeded(const std::string& address);

private:
    static constexpr size_t most = 256;  // addresses remembered; the stalest goes first
    struct Failures {
        int count = 0;
        int64_t last_ms = 0;
    };
    int64_t first_wait_ms_;
    std::mutex lock_;
    std::map<std::string, Failures> failures_;
};

}  // namespace obctl
