#include "image_source.h"

#include <archive.h>
#include <archive_entry.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "kernel.h"

namespace obctl {

namespace {

constexpr size_t read_block = 64 * 1024;
// Enough of an archive's start to tell what it is.
constexpr size_t head_size = 512;

// An archive's name for a file as a path below the image's root: "./bin/sh"
// and "/bin/sh" both are "bin/sh"; the root itself ("", ".", "./", "/") is ".".
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
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path.empty() ? "." : path;
}

// The compressions a box image's root file system archive is published in.
const char* const root_archive_suffixes[] = {"", ".gz", ".bz2", ".xz", ".zst"};

// Whether a zip member is a box's root file system archive: exactly
// "BOX/rootfs.tar" with one of the suffixes. The checksum, kernel and
// version files beside it are not.
bool is_root_archive(const char* name) {
    const char* slash = strchr(name, '/');
    if (slash == nullptr || slash == name || strchr(slash + 1, '/') != nullptr) return false;
    const std::string base = slash + 1;
    for (const char* suffix : root_archive_suffixes)
        if (base == std::string("rootfs.tar") + suffix) return true;
    return false;
}

std::string why(archive* a) {
    const char* text = archive_error_string(a);
    if (text != nullptr) return text;
    const int err = archive_errno(a);
    return err != 0 ? strerror(err) : "damaged or cut short";
}

// An entry was read, perhaps with a warning to pass over.
bool read_on(int status) { return status == ARCHIVE_OK || status == ARCHIVE_WARN; }

la_ssize_t read_stream(archive*, void* stream, const void** block) {
    return static_cast<ByteStream*>(stream)->next(block);
}

archive* new_disk_walk() {
    archive* a = archive_read_disk_new();
    archive_read_disk_set_symlink_physical(a);
    archive_read_disk_set_behavior(a, ARCHIVE_READDISK_NO_TRAVERSE_MOUNTS);
    return a;
}

}  // namespace

ImageSource::~ImageSource() {
    if (reader_ != nullptr) archive_read_free(reader_);
    stream_.stop();
    decoder_.reset();
    if (zip_ != nullptr) archive_read_free(zip_);
    if (links_ != nullptr) archive_entry_linkresolver_free(links_);
    if (spare_ != nullptr) archive_entry_free(spare_);
}

bool ImageSource::open(const std::string& path, std::string& error) {
    name_ = path;
    struct stat st;
    if (ob::kernel().stat(path.c_str(), &st) != 0) {
        error = path + ": " + strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) return open_directory(path, error);
    if (!S_ISREG(st.st_mode)) {
        error = path + " is neither a directory nor an archive file";
        return false;
    }
    input_size_ = least_room_ = static_cast<uint64_t>(st.st_size);
    if (!file_.open(path)) {
        error = path + ": " + strerror(errno);
        return false;
    }
    input_.reset(new PeekedStream(file_));
    std::string head;
    if (!input_->peek(head_size, head)) {
        error = path + ": " + input_->why();
        return false;
    }
    if (is_zip(head)) return open_zip_file(path, error);
    return open_tar(*input_, name_, error);
}

bool ImageSource::open_stream(ByteStream& input, const std::string& name, uint64_t size,
                              std::string& error) {
    name_ = name;
    input_size_ = least_room_ = size;
    input_.reset(new PeekedStream(input));
    std::string head;
    if (!input_->peek(head_size, head)) {
        error = name + ": " + input_->why();
        return false;
    }
    if (is_zip(head)) {
        zip_streamed_ = true;
        return open_zip_stream(error);
    }
    return open_tar(*input_, name_, error);
}

// The tar of `input` (its compression told by its first bytes), read by the
// decoder's thread and the tar reader; its first entry is read at once, so
// that what is no tar archive is refused before anything is written.
bool ImageSource::open_tar(PeekedStream& input, const std::string& where, std::string& error) {
    std::string head;
    if (!input.peek(head_size, head)) {
        error = where + ": " + input.why();
        return false;
    }
    const Compression compression = compression_of(head);
    const std::string compressed =
        compression.name[0] != '\0' ? std::string(" (") + compression.name + ")" : std::string();
    decoder_ = new_decoder(compression, input, error);
    if (decoder_ == nullptr) {
        error = where + (compression.readable ? ": " : " is ") + error;
        return false;
    }
    if (zip_ == nullptr) {
        kind_ = "a tar archive" + compressed;
        PeekedStream* outer = input_.get();
        stream_.start(*decoder_, [outer] { return outer->handed_out(); });
    } else {
        kind_ = root_archive_ + " (tar" +
                (compressed.empty() ? std::string() : std::string(", ") + compression.name) +
                ") in a zip archive";
        if (zip_streamed_) {
            PeekedStream* outer = input_.get();
            stream_.start(*decoder_, [outer] { return outer->handed_out(); });
        } else {
            archive* zip = zip_;
            stream_.start(*decoder_,
                          [zip] { return static_cast<uint64_t>(archive_filter_bytes(zip, -1)); });
        }
    }
    reader_ = archive_read_new();
    archive_read_support_format_tar(reader_);
    if (stream_.open_reader(reader_) != ARCHIVE_OK ||
        !read_on(archive_read_next_header(reader_, &pending_))) {
        const std::string text = why(reader_);
        error = where + (compression.name[0] == '\0' && text == "Unrecognized archive format"
                             ? " is neither a directory nor a tar or zip archive (" + text + ")"
                             : ": " + text);
        pending_ = nullptr;
        return false;
    }
    return true;
}

// A published box image: its directory read first (which costs no
// decompression), exactly one root file system archive in it, read straight
// out of the zip.
bool ImageSource::open_zip_file(const std::string& path, std::string& error) {
    std::vector<std::string> found;
    archive_entry* entry = nullptr;
    zip_ = archive_read_new();
    archive_read_support_format_zip_seekable(zip_);
    if (archive_read_open_filename(zip_, path.c_str(), read_block) != ARCHIVE_OK) {
        error = path + ": " + why(zip_);
        return false;
    }
    int status;
    while (read_on(status = archive_read_next_header(zip_, &entry)))
        if (is_root_archive(archive_entry_pathname(entry)))
            found.push_back(archive_entry_pathname(entry));
    if (status != ARCHIVE_EOF) {
        error = path + ": " + why(zip_);
        return false;
    }
    if (found.size() != 1) {
        std::string names;
        for (const std::string& name : found)
            names += (names.empty() ? "" : ", ") + name;
        error = path + (found.empty() ? " is a zip archive without a BOX/rootfs.tar archive in it"
                                      : " holds the root file systems of several boxes (" + names +
                                            "); unpack the one for this box");
        return false;
    }
    archive_read_free(zip_);
    zip_ = archive_read_new();
    archive_read_support_format_zip_seekable(zip_);
    if (archive_read_open_filename(zip_, path.c_str(), read_block) != ARCHIVE_OK) {
        error = path + ": " + why(zip_);
        return false;
    }
    while (read_on(archive_read_next_header(zip_, &entry)) &&
           found[0] != archive_entry_pathname(entry)) {
    }
    if (archive_entry_size_is_set(entry))
        least_room_ = static_cast<uint64_t>(archive_entry_size(entry));
    root_archive_ = found[0];
    member_.reset(new MemberStream(zip_));
    member_input_.reset(new PeekedStream(*member_));
    return open_tar(*member_input_, path + ": " + root_archive_, error);
}

// The next root file system archive of an uploaded zip, the members before
// it passed over; "" at the zip's end.
bool ImageSource::next_root_archive(std::string& found, std::string& error) {
    archive_entry* entry = nullptr;
    found.clear();
    for (;;) {
        const int status = archive_read_next_header(zip_, &entry);
        if (status == ARCHIVE_EOF) return true;
        if (!read_on(status)) {
            error = name_ + ": " + why(zip_);
            return false;
        }
        if (is_root_archive(archive_entry_pathname(entry))) {
            found = archive_entry_pathname(entry);
            return true;
        }
    }
}

// An uploaded zip comes in order: its members' local headers are read as
// they come, up to the root file system archive.
bool ImageSource::open_zip_stream(std::string& error) {
    zip_ = archive_read_new();
    archive_read_support_format_zip_streamable(zip_);
    if (archive_read_open(zip_, input_.get(), nullptr, read_stream, nullptr) != ARCHIVE_OK) {
        error = name_ + ": " + why(zip_);
        return false;
    }
    if (!next_root_archive(root_archive_, error)) return false;
    if (root_archive_.empty()) {
        error = name_ + " is a zip archive without a BOX/rootfs.tar archive in it";
        return false;
    }
    member_.reset(new MemberStream(zip_));
    member_input_.reset(new PeekedStream(*member_));
    return open_tar(*member_input_, name_ + ": " + root_archive_, error);
}

bool ImageSource::open_directory(const std::string& path, std::string& error) {
    // Named absolutely: the unpack works in the directory it writes.
    char* absolute = realpath(path.c_str(), nullptr);
    struct stat st;
    if (absolute == nullptr || ob::kernel().lstat(absolute, &st) != 0) {
        error = path + ": " + strerror(errno);
        free(absolute);
        return false;
    }
    top_ = absolute;
    free(absolute);
    mounts_.reset(new MountRoots(st.st_dev));
    // What its files take, walked before they are copied, by the same rules.
    archive* sizes = new_disk_walk();
    archive_entry* entry = archive_entry_new();
    bool walked = archive_read_disk_open(sizes, top_.c_str()) == ARCHIVE_OK;
    int status = ARCHIVE_OK;
    while (walked && read_on(status = archive_read_next_header2(sizes, entry))) {
        const struct stat* found = archive_entry_stat(entry);
        least_room_ += static_cast<uint64_t>(found->st_blocks) * 512;
        if (S_ISREG(found->st_mode)) input_size_ += static_cast<uint64_t>(found->st_size);
        const bool top = archive_entry_pathname(entry) == top_;
        if (S_ISDIR(found->st_mode) && (top || !mounts_->holds(*found)))
            archive_read_disk_descend(sizes);
    }
    walked = walked && status == ARCHIVE_EOF;
    if (!walked) error = path + ": " + why(sizes);
    archive_entry_free(entry);
    archive_read_free(sizes);
    if (!walked) return false;
    reader_ = new_disk_walk();
    walking_ = true;
    links_ = archive_entry_linkresolver_new();
    archive_entry_linkresolver_set_strategy(links_, ARCHIVE_FORMAT_TAR_USTAR);
    spare_ = archive_entry_new();
    kind_ = "a directory";
    return true;
}

// The next entry of the directory walk: sockets passed over (a program
// makes its own at its start), the mount points inside left unwalked, hard
// links found.
archive_entry* ImageSource::next_on_disk(std::string& error) {
    // The walk goes back to the working directory of its opening after each
    // step, and the unpack writes relative to the image's root: so it is
    // opened only now, from there.
    if (!walk_opened_) {
        walk_opened_ = true;
        if (archive_read_disk_open(reader_, top_.c_str()) != ARCHIVE_OK) {
            error = name_ + ": " + why(reader_);
            return nullptr;
        }
    }
    for (;;) {
        if (descend_) archive_read_disk_descend(reader_);
        descend_ = false;
        const int status = archive_read_next_header2(reader_, spare_);
        if (status == ARCHIVE_EOF) return nullptr;
        if (!read_on(status)) {
            error = why(reader_);
            return nullptr;
        }
        archive_entry* entry = spare_;
        const struct stat* st = archive_entry_stat(entry);
        const bool top = archive_entry_pathname(entry) == top_;
        if (S_ISSOCK(st->st_mode)) {
            if (!relative_names(entry, error)) return nullptr;
            notes_.push_back("passed over the socket " +
                             std::string(archive_entry_pathname(entry)) +
                             " (a program makes its sockets when it starts)");
            continue;
        }
        if (S_ISDIR(st->st_mode)) descend_ = top || !mounts_->holds(*st);
        if (!relative_names(entry, error)) return nullptr;
        archive_entry* unused = nullptr;
        archive_entry_linkify(links_, &entry, &unused);
        if (archive_entry_hardlink(entry) != nullptr) archive_entry_set_size(entry, 0);
        if (archive_entry_filetype(entry) == AE_IFREG && archive_entry_hardlink(entry) == nullptr)
            directory_read_ += static_cast<uint64_t>(archive_entry_size(entry));
        return entry;
    }
}

archive_entry* ImageSource::next(std::string& error) {
    if (walking_) return next_on_disk(error);
    archive_entry* entry = pending_;
    pending_ = nullptr;
    if (entry == nullptr) {
        const int status = archive_read_next_header(reader_, &entry);
        if (status == ARCHIVE_EOF) return nullptr;
        if (!read_on(status)) {
            error = why(reader_);
            return nullptr;
        }
    }
    return relative_names(entry, error) ? entry : nullptr;
}

bool ImageSource::finish(std::string& error) {
    if (walking_) return true;
    if (!stream_.finish(error)) {
        error = name_ + (root_archive_.empty() ? "" : ": " + root_archive_) + ": " + error;
        return false;
    }
    if (!zip_streamed_) return true;
    std::string another;
    if (!next_root_archive(another, error)) return false;
    if (another.empty()) return true;
    error = name_ + " holds the root file systems of several boxes (" + root_archive_ + ", " +
            another + "); unpack the one for this box";
    return false;
}

std::vector<std::string> ImageSource::take_notes() {
    std::vector<std::string> notes;
    notes.swap(notes_);
    return notes;
}

bool ImageSource::relative_names(archive_entry* entry, std::string& error) {
    const char* name = archive_entry_pathname(entry);
    if (name == nullptr) {
        error = "an entry without a name";
        return false;
    }
    std::string path = name;
    if (walking_) {
        // The walk names files by the directory as given.
        path = path == top_ ? "." : path.substr(top_.size() + (top_ == "/" ? 0 : 1));
    }
    archive_entry_copy_pathname(entry, below_root(path.c_str()).c_str());
    const char* target = archive_entry_hardlink(entry);
    if (target != nullptr) archive_entry_copy_hardlink(entry, below_root(target).c_str());
    return true;
}

uint64_t ImageSource::position() const { return walking_ ? directory_read_ : stream_.position(); }

}  // namespace obctl
