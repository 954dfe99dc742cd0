#include "decoded_stream.h"

#include <errno.h>
#include <string.h>

#include <system_error>

namespace obctl {

namespace {

constexpr size_t block_bytes = 128 * 1024;
constexpr size_t blocks_ahead = 8;  // 1 MiB decoded ahead at most

}  // namespace

void DecodedStream::start(archive* decoder, archive* counted) {
    decoder_ = decoder;
    counted_ = counted;
    try {
        thread_ = std::thread(&DecodedStream::decode, this);
    } catch (const std::system_error&) {
        // No thread to be had: read() decodes each block as it is asked for.
    }
}

int DecodedStream::open_reader(archive* reader) {
    return archive_read_open(reader, this, nullptr, &DecodedStream::read, nullptr);
}

uint64_t DecodedStream::position() const {
    std::lock_guard<std::mutex> hold(lock_);
    return position_;
}

void DecodedStream::stop() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::vector<char> DecodedStream::spare_block() {
    std::vector<char> block;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!spares_.empty()) {
            block = std::move(spares_.back());
            spares_.pop_back();
        }
    }
    block.resize(block_bytes);
    return block;
}

// One block decoded and queued; false once the decoder has ended (with
// error_ set if it failed) or the stream is stopped.
bool DecodedStream::decode_block() {
    std::vector<char> block = spare_block();
    const la_ssize_t got = archive_read_data(decoder_, block.data(), block.size());
    const uint64_t read_so_far = static_cast<uint64_t>(archive_filter_bytes(counted_, -1));
    std::unique_lock<std::mutex> hold(lock_);
    position_ = read_so_far;
    if (got <= 0) {
        if (got < 0) {
            const char* text = archive_error_string(decoder_);
            error_ = text != nullptr ? text : strerror(archive_errno(decoder_));
        }
        ended_ = true;
        hold.unlock();
        changed_.notify_all();
        return false;
    }
    block.resize(static_cast<size_t>(got));
    if (thread_.joinable())
        changed_.wait(hold, [this] { return decoded_.size() < blocks_ahead || stopping_; });
    if (stopping_) return false;
    decoded_.push_back(std::move(block));
    hold.unlock();
    changed_.notify_all();
    return true;
}

void DecodedStream::decode() {
    while (decode_block()) {
    }
}

la_ssize_t DecodedStream::read(archive* reader, void* self, const void** buffer) {
    DecodedStream& stream = *static_cast<DecodedStream*>(self);
    if (!stream.thread_.joinable() && !stream.ended_ && stream.decoded_.empty())
        stream.decode_block();
    std::unique_lock<std::mutex> hold(stream.lock_);
    if (!stream.handed_.empty()) stream.spares_.push_back(std::move(stream.handed_));
    stream.changed_.wait(hold, [&stream] { return !stream.decoded_.empty() || stream.ended_; });
    if (stream.decoded_.empty()) {
        if (stream.error_.empty()) return 0;
        archive_set_error(reader, EIO, "%s", stream.error_.c_str());
        return -1;
    }
    stream.handed_ = std::move(stream.decoded_.front());
    stream.decoded_.pop_front();
    hold.unlock();
    stream.changed_.notify_all();
    *buffer = stream.handed_.data();
    return static_cast<la_ssize_t>(stream.handed_.size());
}

}  // namespace obctl
