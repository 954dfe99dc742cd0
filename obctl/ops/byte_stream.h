// Bytes that arrive in order, one block at a time: a file, a member of a
// zip archive, an upload. An archive is read from them as they come, never
// stored first.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

struct archive;

namespace obctl {

class ByteStream {
public:
    virtual ~ByteStream() = default;
    // The next block: its size, 0 at the end of the stream, -1 when the
    // stream broke off (why() then tells). The block stays valid until the
    // next call.
    virtual long next(const void** block) = 0;
    virtual std::string why() const = 0;
};

// A file opened once, read in large blocks.
class FileStream : public ByteStream {
public:
    FileStream() = default;
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;
    // False with errno.
    bool open(const std::string& path);
    long next(const void** block) override;
    std::string why() const override { return why_; }

private:
    int fd_ = -1;
    std::vector<char> buffer_;
    std::string why_;
};

// The data of the current entry of a zip archive being read.
class MemberStream : public ByteStream {
public:
    explicit MemberStream(archive* zip) : zip_(zip) {}
    long next(const void** block) override;
    std::string why() const override { return why_; }

private:
    archive* zip_;
    std::vector<char> buffer_;
    std::string why_;
};

// Another stream whose first bytes can be looked at before they are read:
// what an archive is, from its first bytes, even when it arrives as an
// upload. Counts the bytes it hands out.
class PeekedStream : public ByteStream {
public:
    explicit PeekedStream(ByteStream& inner) : inner_(inner) {}
    // At least `size` first bytes (fewer at the end of a short stream);
    // false when the stream broke off.
    bool peek(size_t size, std::string& head);
    long next(const void** block) override;
    std::string why() const override { return inner_.why(); }
    uint64_t handed_out() const { return handed_out_; }

private:
    ByteStream& inner_;
    std::string head_;  // peeked, not handed out yet
    bool head_given_ = false;
    uint64_t handed_out_ = 0;
};

}  // namespace obctl
