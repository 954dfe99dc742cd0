// An archive's compression: told from its first bytes, and undone in
// process with the checks each format carries verified to the last byte.
// Only the compressions image archives are published in are read; another
// is refused by its name, and no outside program is ever run for one.
#pragma once

#include <stddef.h>

#include <memory>
#include <string>

#include "byte_stream.h"

namespace obctl {

class StreamDecoder {
public:
    virtual ~StreamDecoder() = default;
    // Up to `size` decoded bytes into buf: how many; 0 only at the end of
    // the whole compressed stream, once its checks passed (a gzip member's
    // CRC and length, xz's and zstd's checks, bzip2's CRCs); -1 with why().
    virtual long decode(char* buf, size_t size) = 0;
    virtual std::string why() const = 0;
};

struct Compression {
    const char* name;  // "gzip", "xz"; "" for none
    bool readable;     // obctl reads it
};

// The first bytes that tell a compression (and a zip archive).
constexpr size_t compression_head = 8;

// The compression the first bytes of an archive show: gzip, bzip2, xz, zstd,
// one obctl does not read (lzip, lz4, lrzip, ...), or none.
Compression compression_of(const std::string& head);

// Whether the first bytes are those of a zip archive.
bool is_zip(const std::string& head);

// A decoder of `input` for the readable compression (or none); nullptr with
// the reason when this obctl cannot read it.
std::unique_ptr<StreamDecoder> new_decoder(const Compression& compression, ByteStream& input,
                                           std::string& error);

}  // namespace obctl
