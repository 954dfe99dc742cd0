// Where an image comes from: a directory, a tar archive (plain, gzip, bzip2,
// xz or zstd) or a zip archive of the form box images are published in (a
// folder per box holding rootfs.tar.bz2 and a kernel). All of them are read
// as one stream of entries, an archive inside a zip straight out of the zip:
// nothing is copied first, and memory stays bounded by the decoders' and a
// few blocks decompressed ahead on a thread of their own.
#pragma once

#include <stdint.h>

#include <string>

#include "decoded_stream.h"

struct archive_entry;
struct archive_entry_linkresolver;

namespace obctl {

// Bytes that arrive in order from elsewhere, such as an upload: the
// archive is read from them as they come, never stored first.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    // The next block: its size, 0 at the end of the stream, -1 when the
    // stream broke off (why() then tells). The block stays valid until the
    // next call.
    virtual long next(const void** block) = 0;
    virtual std::string why() const = 0;
};

class ImageSource {
public:
    ImageSource() = default;
    ~ImageSource();
    ImageSource(const ImageSource&) = delete;
    ImageSource& operator=(const ImageSource&) = delete;

    // False with the reason when path is none of the three kinds or cannot
    // be read.
    bool open(const std::string& path, std::string& error);
    // An archive (any kind open() takes but a directory) read from input as
    // it arrives; name is how the user knows it, size its length in bytes
    // when known (0 otherwise), for the free-space check and progress.
    bool open_stream(ByteStream& input, const std::string& name, uint64_t size, std::string& error);

    // The next entry, its path made relative to the image's root ("bin/sh",
    // "." for the root itself), its hard-link target likewise. nullptr at the
    // end, or with the reason in error.
    archive_entry* next(std::string& error);
    // Where the current entry's data is read from.
    archive* data() const { return reader_; }

    // The source as the user named it.
    const std::string& name() const { return name_; }
    // What the source is, for the user: "a tar archive (xz)".
    const std::string& kind() const { return kind_; }
    // The least room its contents take: exact for a directory, the archive's
    // own size otherwise (a compressed archive tells its contents' size only
    // once it is read through).
    uint64_t least_room() const { return least_room_; }
    // Progress through the input, in its own bytes (compressed ones for an
    // archive): how far, out of how many.
    uint64_t position() const;
    uint64_t input_size() const { return input_size_; }

private:
    bool open_directory(const std::string& path, std::string& error);
    bool open_archive(const std::string& path, std::string& error);
    bool open_inner(const std::string& path, std::string& error);
    bool reopen(const std::string& path, std::string& error);
    bool read_decoded(archive* counted, const std::string& name, std::string& error);
    bool relative_names(archive_entry* entry, std::string& error);

    archive* outer_ = nullptr;    // the file as opened: the tar, the zip, or the directory walk
    archive* reader_ = nullptr;   // what entries come from: the tar, or the walk (outer_)
    archive* decoder_ = nullptr;  // an archive's decompression, on stream_'s thread
    DecodedStream stream_;
    archive_entry_linkresolver* links_ = nullptr;  // hard links found in a directory
    archive_entry* spare_ = nullptr;               // the walk's entry
    bool directory_entry_done_ = false;            // the walk may descend into it
    std::string top_;                              // a directory's path, as named
    std::string name_;
    std::string kind_;
    uint64_t least_room_ = 0;
    uint64_t input_size_ = 0;
    uint64_t directory_read_ = 0;  // data bytes a directory walk has handed out
};

}  // namespace obctl
