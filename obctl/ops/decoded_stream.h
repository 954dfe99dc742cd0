// An archive's decompression on a thread of its own. The decoded bytes go
// through a few blocks of memory to the reader of the entries, so that one
// core decompresses while another writes the files, as tar does with its
// decompressor in a pipe; memory stays bounded by the blocks in flight.
#pragma once

#include <archive.h>
#include <stdint.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace obctl {

class DecodedStream {
public:
    DecodedStream() = default;
    ~DecodedStream() { stop(); }
    DecodedStream(const DecodedStream&) = delete;
    DecodedStream& operator=(const DecodedStream&) = delete;

    // Decodes on a thread from now on. decoder is a raw-format reader at its
    // one header; the bytes that counted has read are the input's position.
    // Both belong to that thread until stop().
    void start(archive* decoder, archive* counted);
    // Opens reader on the decoded bytes.
    int open_reader(archive* reader);
    // How far the decoding is through the input, in the input's own bytes.
    uint64_t position() const;
    // Ends the decoding and waits for its thread.
    void stop();

private:
    static la_ssize_t read(archive* reader, void* self, const void** buffer);
    void decode();
    bool decode_block();
    std::vector<char> spare_block();

    archive* decoder_ = nullptr;
    archive* counted_ = nullptr;
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
