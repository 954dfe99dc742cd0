#include "image_unpack.h"

#include <archive.h>
#include <archive_entry.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace obctl {

namespace {

// Owners by number, never mapped through this system's user names: the
// image carries its own. Every name is the directory's real path (no link
// on its way) and one below the image's root: no link in the image and no
// ".." can lead out of the directory.
constexpr int extract_flags = ARCHIVE_EXTRACT_OWNER | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME |
                              ARCHIVE_EXTRACT_XATTR | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                              ARCHIVE_EXTRACT_SECURE_NODOTDOT;

// The entry's names below root.
void place_below(archive_entry* entry, const std::string& root) {
    const std::string path = archive_entry_pathname(entry);
    archive_entry_copy_pathname(entry, path == "." ? root.c_str() : (root + "/" + path).c_str());
    if (const char* target = archive_entry_hardlink(entry))
        archive_entry_copy_hardlink(entry, (root + "/" + target).c_str());
}

std::string write_failure(archive* writer, const char* path) {
    if (archive_errno(writer) == ENOSPC || archive_errno(writer) == EDQUOT)
        return "the medium is full";
    const char* text = archive_error_string(writer);
    std::string line = std::string(path) + ": " + (text != nullptr ? text : "cannot be made");
    if (geteuid() != 0) line += " (run obctl as root: only root keeps owners and device nodes)";
    return line;
}

class Writer {
public:
    Writer() : disk_(archive_write_disk_new()) {
        archive_write_disk_set_options(disk_, extract_flags);
    }
    ~Writer() { archive_write_free(disk_); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    archive* get() const { return disk_; }

private:
    archive* disk_;
};

bool copy_data(ImageSource& source, archive* writer, const char* path, AddWatch& watch,
               const volatile sig_atomic_t& stop, Unpacked& made, std::string& error) {
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(source.data(), &block, &size, &offset);
        if (status == ARCHIVE_EOF) return true;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
            const char* text = archive_error_string(source.data());
            error = std::string(path) + ": " + (text != nullptr ? text : "cannot be read");
            return false;
        }
        if (archive_write_data_block(writer, block, size, offset) != ARCHIVE_OK) {
            error = write_failure(writer, path);
            return false;
        }
        made.bytes += size;
        if (stop) {
            error = "interrupted";
            return false;
        }
        watch.unpacked(source.position(), source.input_size(), made.bytes, made.files);
    }
}

// Everything written below directory reaches the disk: one flush of its
// file system, as sync(1) would, without waiting for the box's other disks.
bool flush_file_system(const std::string& directory, std::string& error) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool flushed = fd >= 0 && syncfs(fd) == 0;
    if (!flushed) error = "cannot flush the medium: " + std::string(strerror(errno));
    if (fd >= 0) ::close(fd);
    return flushed;
}

}  // namespace

bool unpack_into(ImageSource& source, const std::string& directory, AddWatch& watch,
                 const volatile sig_atomic_t& stop, Unpacked& made, std::string& error) {
    char* real = realpath(directory.c_str(), nullptr);
    if (real == nullptr) {
        error = directory + ": " + strerror(errno);
        return false;
    }
    const std::string root = real;
    free(real);
    Writer writer;
    while (archive_entry* entry = source.next(error)) {
        const std::string name = archive_entry_pathname(entry);
        const char* path = name.c_str();
        place_below(entry, root);
        if (archive_write_header(writer.get(), entry) != ARCHIVE_OK) {
            error = write_failure(writer.get(), path);
            return false;
        }
        ++made.files;
        const bool has_data =
            archive_entry_size(entry) > 0 && archive_entry_hardlink(entry) == nullptr;
        if (has_data && !copy_data(source, writer.get(), path, watch, stop, made, error))
            return false;
        if (archive_write_finish_entry(writer.get()) != ARCHIVE_OK) {
            error = write_failure(writer.get(), path);
            return false;
        }
        if (stop) {
            error = "interrupted";
            return false;
        }
        watch.unpacked(source.position(), source.input_size(), made.bytes, made.files);
    }
    if (!error.empty()) return false;
    // The directories' own modes and times, which their files changed.
    if (archive_write_close(writer.get()) != ARCHIVE_OK) {
        error = write_failure(writer.get(), directory.c_str());
        return false;
    }
    return flush_file_system(directory, error);
}

}  // namespace obctl
