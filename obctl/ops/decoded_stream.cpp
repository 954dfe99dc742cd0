#include "decoded_stream.h"

#include <errno.h>
#include <string.h>

#include <system_error>
#include <utility>

namespace obctl {

namespace {

constexpr size_t block_bytes = 128 * 1024;
constexpr size_t blocks_ahead = 8;  // 1 MiB decoded ahead at most

}  // namespace

void DecodedStream::start(StreamDecoder& decoder, std::function<uint64_t()> position) {
    decoder_ = &decoder;
    input_position_ = std::move(position);
    try {
        thread_ = std::thread(&DecodedStream::decode, this);
    } catch (const std::system_error&) {
        // No thread to be had: the blocks are decoded as they are asked for.
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
    const long got = decoder_->decode(block.data(), block.size());
    const uint64_t read_so_far = input_position_();
    std::unique_lock<std::mutex> hold(lock_);
    position_ = read_so_far;
    if (got <= 0) {
        if (got < 0) error_ = decoder_->why();
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

bool DecodedStream::take_block(std::unique_lock<std::mutex>& hold) {
    if (!thread_.joinable() && !ended_ && decoded_.empty()) {
        hold.unlock();
        decode_block();
        hold.lock();
    }
    if (!handed_.empty()) spares_.push_back(std::move(handed_));
    changed_.wait(hold, [this] { return !decoded_.empty() || ended_; });
    if (decoded_.empty()) {
        handed_.clear();
        return error_.empty();
    }
    handed_ = std::move(decoded_.front());
    decoded_.pop_front();
    return true;
}

la_ssize_t DecodedStream::read(archive* reader, void* self, const void** buffer) {
    DecodedStream& stream = *static_cast<DecodedStream*>(self);
    std::unique_lock<std::mutex> hold(stream.lock_);
    const bool taken = stream.take_block(hold);
    hold.unlock();
    stream.changed_.notify_all();
    if (!taken) {
        archive_set_error(reader, EIO, "%s", stream.error_.c_str());
        return -1;
    }
    *buffer = stream.handed_.data();
    return static_cast<la_ssize_t>(stream.handed_.size());
}

bool DecodedStream::finish(std::string& error) {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        if (!take_block(hold)) {
            error = error_;
            return false;
        }
        if (handed_.empty()) return true;
        hold.unlock();
        changed_.notify_all();
        hold.lock();
    }
}

}  // namespace obctl
