// An archive's decompression on a thread of its own. The decoded bytes go
// through a few blocks of memory to the reader of the entries, so that one
// core decompresses while another writes the files, as tar does with its
// decompressor in a pipe; memory stays bounded by the blocks in flight.
#pragma once

#include <archive.h>
#include <stdint.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stream_decoder.h"

namespace obctl {

class DecodedStream {
public:
    DecodedStream() = default;
    ~DecodedStream() { stop(); }
    DecodedStream(const DecodedStream&) = delete;
    DecodedStream& operator=(const DecodedStream&) = delete;

    // Decodes on a thread from now on; `position` tells how far the decoding
    // is through the input, in the input's own bytes. Both are the thread's
    // until stop().
    void start(StreamDecoder& decoder, std::function<uint64_t()> position);
    // Opens reader on the decoded bytes.
    int open_reader(archive* reader);
    // How far the decoding is through the input.
    uint64_t position() const;
    // Once the reader has what it wanted: the rest of the stream decoded and
    // passed over, to its very end, so that the checks at its end (a
    // trailer, a checksum, a zip member's CRC) are made. False with the
    // decoder's reason when they fail or the stream ends early.
    bool finish(std::string& error);
    // Ends the decoding and waits for its thread.
    void stop();

private:
    static la_ssize_t read(archive* reader, void* self, const void** buffer);
    void decode();
    bool decode_block();
    std::vector<char> spare_block();
    // The next decoded block for the reader (empty at the end); false when
    // the decoder failed.
    bool take_block(std::unique_lock<std::mutex>& hold);

    StreamDecoder* decoder_ = nullptr;
    std::function<uint64_t()> input_position_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::vector<char>> decoded_;  // in order, for the reader
    std::vector<std::vector<char>> spares_;  // taken back from the reader
    std::vector<char> handed_;               // the block the reader has now
    bool ended_ = false;                     // the decoder has handed over all it will
    bool stopping_ = false;
    std::string error_;
    uint64_t position_ = 0;  // under lock_: MIPS32 has no 64-bit atomics
    std::thread thread_;
};

}  // namespace obctl
