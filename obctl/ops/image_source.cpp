#include "image_source.h"

#include <archive.h>
#include <archive_entry.h>
#include <ftw.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <vector>

namespace obctl {

namespace {

constexpr size_t read_block = 64 * 1024;

// What a directory's files take, walked before they are copied.
struct TreeSize {
    uint64_t room = 0;  // allocated blocks
    uint64_t data = 0;  // bytes of regular files
};
TreeSize* walked = nullptr;

int add_to_walk(const char*, const struct stat* st, int, struct FTW*) {
    walked->room += static_cast<uint64_t>(st->st_blocks) * 512;
    if (S_ISREG(st->st_mode)) walked->data += static_cast<uint64_t>(st->st_size);
    return 0;
}

// An archive's name for a file as a path below the image's root: "./bin/sh"
// and "/bin/sh" both are "bin/sh"; the root itself is ".".
std::string below_root(const char* name) {
    std::string path = name;
    for (;;) {
        if (path.compare(0, 1, "/") == 0)
            path.erase(0, 1);
        else if (path.compare(0, 2, "./") == 0)
            path.erase(0, 2);
        else
            break;
    }
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path.empty() ? "." : path;
}

// Whether a zip member is a root file system archive: "BOX/rootfs.tar.bz2".
bool is_root_archive(const char* name) {
    const char* base = strrchr(name, '/');
    base = base != nullptr ? base + 1 : name;
    return strncmp(base, "rootfs.tar", 10) == 0;
}

const char* filter_word(archive* a) {
    switch (archive_filter_code(a, 0)) {
        case ARCHIVE_FILTER_GZIP:
            return "gzip";
        case ARCHIVE_FILTER_BZIP2:
            return "bzip2";
        case ARCHIVE_FILTER_XZ:
            return "xz";
        case ARCHIVE_FILTER_ZSTD:
            return "zstd";
        case ARCHIVE_FILTER_NONE:
            return nullptr;
        default:
            return archive_filter_name(a, 0);
    }
}

// Tells a tar from a zip, and reads the zip.
archive* new_reader() {
    archive* a = archive_read_new();
    archive_read_support_filter_all(a);
    archive_read_support_format_tar(a);
    archive_read_support_format_zip(a);
    return a;
}

// Decompresses whatever it is given into one stream of bytes.
archive* new_decoder() {
    archive* a = archive_read_new();
    archive_read_support_filter_all(a);
    archive_read_support_format_raw(a);
    return a;
}

// Reads the entries of a decompressed tar.
archive* new_tar_reader() {
    archive* a = archive_read_new();
    archive_read_support_format_tar(a);
    return a;
}

// The inner archive reads the zip member's data as its input.
la_ssize_t read_member(archive*, void* outer, const void** buffer) {
    static thread_local std::vector<char> block(read_block);
    const la_ssize_t got =
        archive_read_data(static_cast<archive*>(outer), block.data(), block.size());
    *buffer = block.data();
    return got;
}

// An entry was read, perhaps with a warning to pass over.
bool read_on(int status) { return status == ARCHIVE_OK || status == ARCHIVE_WARN; }

std::string why(archive* a) {
    const char* text = archive_error_string(a);
    return text != nullptr ? text : strerror(archive_errno(a));
}

}  // namespace

ImageSource::~ImageSource() {
    if (reader_ != nullptr && reader_ != outer_) archive_read_free(reader_);
    stream_.stop();
    if (decoder_ != nullptr) archive_read_free(decoder_);
    if (outer_ != nullptr) archive_read_free(outer_);
    if (links_ != nullptr) archive_entry_linkresolver_free(links_);
    if (spare_ != nullptr) archive_entry_free(spare_);
}

bool ImageSource::open(const std::string& path, std::string& error) {
    name_ = path;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        error = path + ": " + strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) return open_directory(path, error);
    if (!S_ISREG(st.st_mode)) {
        error = path + " is neither a directory nor an archive file";
        return false;
    }
    input_size_ = least_room_ = static_cast<uint64_t>(st.st_size);
    return open_archive(path, error);
}

bool ImageSource::open_stream(ByteStream&, const std::string& name, uint64_t, std::string& error) {
    name_ = name;
    error = name + ": reading an archive as it arrives is not built yet";
    return false;
}

bool ImageSource::open_directory(const std::string& path, std::string& error) {
    TreeSize size;
    walked = &size;
    const int walk = nftw(path.c_str(), add_to_walk, 32, FTW_PHYS | FTW_MOUNT);
    walked = nullptr;
    if (walk != 0) {
        error = path + ": " + strerror(errno);
        return false;
    }
    least_room_ = size.room;
    input_size_ = size.data;
    // Named absolutely: the unpack works in the directory it writes.
    char* absolute = realpath(path.c_str(), nullptr);
    if (absolute == nullptr) {
        error = path + ": " + strerror(errno);
        return false;
    }
    top_ = absolute;
    free(absolute);
    outer_ = reader_ = archive_read_disk_new();
    archive_read_disk_set_symlink_physical(outer_);
    archive_read_disk_set_behavior(outer_, ARCHIVE_READDISK_NO_TRAVERSE_MOUNTS);
    links_ = archive_entry_linkresolver_new();
    archive_entry_linkresolver_set_strategy(links_, ARCHIVE_FORMAT_TAR_USTAR);
    spare_ = archive_entry_new();
    if (archive_read_disk_open(outer_, top_.c_str()) != ARCHIVE_OK) {
        error = path + ": " + why(outer_);
        return false;
    }
    kind_ = "a directory";
    return true;
}

bool ImageSource::reopen(const std::string& path, std::string& error) {
    if (outer_ != nullptr) archive_read_free(outer_);
    outer_ = new_reader();
    if (archive_read_open_filename(outer_, path.c_str(), read_block) == ARCHIVE_OK) return true;
    error = path + ": " + why(outer_);
    return false;
}

bool ImageSource::open_archive(const std::string& path, std::string& error) {
    if (!reopen(path, error)) return false;
    archive_entry* first = nullptr;
    if (!read_on(archive_read_next_header(outer_, &first))) {
        error = path + " is neither a directory nor a tar or zip archive (" + why(outer_) + ")";
        return false;
    }
    if ((archive_format(outer_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP)
        return open_inner(path, error);
    archive_read_free(outer_);
    outer_ = nullptr;
    decoder_ = new_decoder();
    if (archive_read_open_filename(decoder_, path.c_str(), read_block) != ARCHIVE_OK) {
        error = path + ": " + why(decoder_);
        return false;
    }
    const char* filter = filter_word(decoder_);
    kind_ = filter != nullptr ? std::string("a tar archive (") + filter + ")" : "a tar archive";
    return read_decoded(decoder_, path, error);
}

// The tar's entries are read from the decoded bytes while the decoder goes
// on ahead.
bool ImageSource::read_decoded(archive* counted, const std::string& name, std::string& error) {
    archive_entry* whole = nullptr;
    if (archive_read_next_header(decoder_, &whole) != ARCHIVE_OK) {
        error = name + ": " + why(decoder_);
        return false;
    }
    stream_.start(decoder_, counted);
    reader_ = new_tar_reader();
    if (stream_.open_reader(reader_) == ARCHIVE_OK) return true;
    error = name + ": " + why(reader_);
    return false;
}

// A zip holds one root file system archive, in the folder of its box; that
// archive is read out of the zip as it is decompressed. The zip's directory
// is read twice, which costs no decompression.
bool ImageSource::open_inner(const std::string& path, std::string& error) {
    std::vector<std::string> found;
    archive_entry* entry = nullptr;
    if (!reopen(path, error)) return false;
    while (read_on(archive_read_next_header(outer_, &entry)))
        if (is_root_archive(archive_entry_pathname(entry)))
            found.push_back(archive_entry_pathname(entry));
    if (found.size() != 1) {
        std::string names;
        for (const std::string& name : found)
            names += (names.empty() ? "" : ", ") + name;
        error = path + (found.empty() ? " is a zip archive without a rootfs.tar archive in it"
                                      : " holds the root file systems of several boxes (" + names +
                                            "); unpack the one for this box");
        return false;
    }
    if (!reopen(path, error)) return false;
    while (read_on(archive_read_next_header(outer_, &entry)) &&
           found[0] != archive_entry_pathname(entry)) {
    }
    if (archive_entry_size_is_set(entry))
        least_room_ = static_cast<uint64_t>(archive_entry_size(entry));
    decoder_ = new_decoder();
    if (archive_read_open(decoder_, outer_, nullptr, read_member, nullptr) != ARCHIVE_OK) {
        error = path + ": " + found[0] + ": " + why(decoder_);
        return false;
    }
    const char* filter = filter_word(decoder_);
    kind_ = found[0] + (filter != nullptr ? std::string(" (tar, ") + filter + ")" : " (tar)") +
            " in a zip archive";
    return read_decoded(outer_, path + ": " + found[0], error);
}

archive_entry* ImageSource::next(std::string& error) {
    archive_entry* entry = nullptr;
    if (links_ != nullptr) {
        if (directory_entry_done_) archive_read_disk_descend(reader_);
        entry = spare_;
    }
    const int status = links_ != nullptr ? archive_read_next_header2(reader_, entry)
                                         : archive_read_next_header(reader_, &entry);
    if (status == ARCHIVE_EOF) return nullptr;
    if (!read_on(status)) {
        error = why(reader_);
        return nullptr;
    }
    if (!relative_names(entry, error)) return nullptr;
    if (links_ != nullptr) {
        directory_entry_done_ = true;
        archive_entry* unused = nullptr;
        archive_entry_linkify(links_, &entry, &unused);
        if (archive_entry_hardlink(entry) != nullptr) archive_entry_set_size(entry, 0);
        if (archive_entry_filetype(entry) == AE_IFREG && archive_entry_hardlink(entry) == nullptr)
            directory_read_ += static_cast<uint64_t>(archive_entry_size(entry));
    }
    return entry;
}

bool ImageSource::relative_names(archive_entry* entry, std::string& error) {
    const char* name = archive_entry_pathname(entry);
    if (name == nullptr) {
        error = "an entry without a name";
        return false;
    }
    std::string path = name;
    if (links_ != nullptr) {
        // The walk names files by the directory as given.
        path = path == top_ ? "." : path.substr(top_.size() + (top_ == "/" ? 0 : 1));
    }
    archive_entry_copy_pathname(entry, below_root(path.c_str()).c_str());
    const char* target = archive_entry_hardlink(entry);
    if (target != nullptr) archive_entry_copy_hardlink(entry, below_root(target).c_str());
    return true;
}

uint64_t ImageSource::position() const {
    return links_ != nullptr ? directory_read_ : stream_.position();
}

}  // namespace obctl
