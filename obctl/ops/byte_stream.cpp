#include "byte_stream.h"

#include <archive.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>

#include "kernel.h"

namespace obctl {

namespace {

constexpr size_t block_bytes = 128 * 1024;

}  // namespace

FileStream::~FileStream() {
    if (fd_ >= 0) ob::kernel().close(fd_);
}

bool FileStream::open(const std::string& path) {
    fd_ = ob::kernel().open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    buffer_.resize(block_bytes);
    return fd_ >= 0;
}

long FileStream::next(const void** block) {
    for (;;) {
        const ssize_t got = ob::kernel().read(fd_, buffer_.data(), buffer_.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) why_ = strerror(errno);
        *block = buffer_.data();
        return static_cast<long>(got);
    }
}

long MemberStream::next(const void** block) {
    buffer_.resize(block_bytes);
    const la_ssize_t got = archive_read_data(zip_, buffer_.data(), buffer_.size());
    if (got < 0) {
        const char* text = archive_error_string(zip_);
        why_ = text != nullptr ? text : "the zip archive cannot be read";
    }
    *block = buffer_.data();
    return static_cast<long>(got);
}

bool PeekedStream::peek(size_t size, std::string& head) {
    while (head_.size() < size) {
        const void* block = nullptr;
        const long got = inner_.next(&block);
        if (got < 0) return false;
        if (got == 0) break;
        head_.append(static_cast<const char*>(block), static_cast<size_t>(got));
    }
    head = head_;
    return true;
}

long PeekedStream::next(const void** block) {
    if (!head_given_ && !head_.empty()) {
        head_given_ = true;
        *block = head_.data();
        handed_out_ += head_.size();
        return static_cast<long>(head_.size());
    }
    head_given_ = true;
    const long got = inner_.next(block);
    if (got > 0) handed_out_ += static_cast<uint64_t>(got);
    return got;
}

}  // namespace obctl
