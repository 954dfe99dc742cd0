// Where an image comes from: a directory, a tar archive (plain, gzip, bzip2,
// xz or zstd) or a zip archive of the form box images are published in (a
// folder per box holding rootfs.tar with one of those compressions, beside
// a kernel and checksums). All of them are read as one stream of entries, an
// archive inside a zip straight out of the zip, an archive file or an
// upload as it arrives: nothing is copied first, and memory stays bounded by
// the decoders' and a few blocks decompressed ahead on a thread of their
// own. An archive counts as read only once its input is decoded to its last
// byte and every check its formats carry has passed.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "byte_stream.h"
#include "decoded_stream.h"
#include "mount_roots.h"
#include "stream_decoder.h"

struct archive_entry;
struct archive_entry_linkresolver;

namespace obctl {

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
    // end, or with the reason in error. A directory is walked from the
    // working directory of the first call, to which the walk returns after
    // every step.
    archive_entry* next(std::string& error);
    // Where the current entry's data is read from.
    archive* data() const { return reader_; }
    // After the last entry: the rest of the input read to its end and its
    // checks made (a trailer, a checksum, a zip member's CRC; for an upload
    // of a zip, its remaining members). False with the reason.
    bool finish(std::string& error);
    // What the reading had to say besides the entries (a socket passed
    // over), a line each; taken once.
    std::vector<std::string> take_notes();

    // The source as the user named it.
    const std::string& name() const { return name_; }
    // What the source is, for the user: "a tar archive (xz)".
    const std::string& kind() const { return kind_; }
    // The least room its contents take: exact for a directory, the archive's
    // own size otherwise (a compressed archive tells its contents' size only
    // once it is read through); 0 when unknown.
    uint64_t least_room() const { return least_room_; }
    // Progress through the input, in its own bytes (compressed ones for an
    // archive): how far, out of how many (0 when unknown).
    uint64_t position() const;
    uint64_t input_size() const { return input_size_; }

private:
    bool open_directory(const std::string& path, std::string& error);
    bool open_zip_file(const std::string& path, std::string& error);
    bool open_zip_stream(std::string& error);
    bool next_root_archive(std::string& found, std::string& error);
    bool open_tar(PeekedStream& input, const std::string& where, std::string& error);
    archive_entry* next_on_disk(std::string& error);
    bool relative_names(archive_entry* entry, std::string& error);

    std::string name_;
    std::string kind_;
    uint64_t least_room_ = 0;
    uint64_t input_size_ = 0;

    // An archive: the file or upload, its first bytes looked at; the zip
    // around the tar, and the zip member the tar is read from; its decoder
    // on a thread; the tar reader of the decoded bytes.
    FileStream file_;
    std::unique_ptr<PeekedStream> input_;
    archive* zip_ = nullptr;
    bool zip_streamed_ = false;  // an upload: members come in order, once
    std::string root_archive_;   // the zip member read
    std::unique_ptr<MemberStream> member_;
    std::unique_ptr<PeekedStream> member_input_;
    std::unique_ptr<StreamDecoder> decoder_;
    DecodedStream stream_;
    archive* reader_ = nullptr;         // what entries come from: the tar, or the walk
    archive_entry* pending_ = nullptr;  // the first entry, read at the opening

    // A directory: the walk, its hard links, and what it has handed out.
    bool walking_ = false;
    bool walk_opened_ = false;
    archive_entry_linkresolver* links_ = nullptr;
    archive_entry* spare_ = nullptr;
    bool descend_ = false;                // the last entry was a directory to walk into
    std::string top_;                     // the directory's path, as walked
    std::unique_ptr<MountRoots> mounts_;  // of the directory's file system
    uint64_t directory_read_ = 0;
    std::vector<std::string> notes_;
};

}  // namespace obctl
