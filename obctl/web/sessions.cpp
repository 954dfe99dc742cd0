#include "sessions.h"

#include <algorithm>

#include "random_bytes.h"

namespace obctl {

namespace {

constexpr size_t key_bytes = 32;

// Compares without stopping at the first difference, so that the time
// taken tells nothing about a key.
bool same_key(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char differ = 0;
    for (size_t i = 0; i < a.size(); ++i)
        differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

template <typename Map, typename Time>
void drop_oldest(Map& map, Time time_of) {
    auto oldest = std::min_element(map.begin(), map.end(), [&](const auto& a, const auto& b) {
        return time_of(a.second) < time_of(b.second);
    });
    if (oldest != map.end()) map.erase(oldest);
}

}  // namespace

std::string Sessions::open(int64_t now_ms) {
    const std::string key = random_hex(key_bytes);
    if (key.empty()) return key;
    std::lock_guard<std::mutex> hold(lock_);
    if (last_use_.size() >= most) drop_oldest(last_use_, [](int64_t t) { return t; });
    last_use_[key] = now_ms;
    return key;
}

bool Sessions::use(const std::string& key, int64_t now_ms) {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto it = last_use_.begin(); it != last_use_.end(); ++it) {
        if (!same_key(it->first, key)) continue;
        if (now_ms - it->second >= idle_ms_) {
            last_use_.erase(it);
            return false;
        }
        it->second = now_ms;
        return true;
    }
    return false;
}

void Sessions::close(const std::string& key) {
    std::lock_guard<std::mutex> hold(lock_);
    last_use_.erase(key);
}

int64_t LoginThrottle::wait_ms(const std::string& address) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto it = failures_.find(address);
    if (it == failures_.end() || it->second.count < free_tries) return 0;
    int64_t wait = first_wait_ms_;
    for (int i = free_tries; i < it->second.count && wait < longest_wait_ms; ++i)
        wait *= 2;
    return std::min(wait, longest_wait_ms);
}

void LoginThrottle::failed(const std::string& address, int64_t now_ms) {
    std::lock_guard<std::mutex> hold(lock_);
    if (failures_.size() >= most && failures_.count(address) == 0)
        drop_oldest(failures_, [](const Failures& f) { return f.last_ms; });
    Failures& f = failures_[address];
    ++f.count;
    f.last_ms = now_ms;
}

void LoginThrottle::succeeded(const std::string& address) {
    std::lock_guard<std::mutex> hold(lock_);
    failures_.erase(address);
}

}  // namespace obctl
