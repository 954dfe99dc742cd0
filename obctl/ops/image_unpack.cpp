#include "image_unpack.h"

#include <archive.h>
#include <archive_entry.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "kernel.h"
#include "unpack_guard.h"

namespace obctl {

namespace {

// Owners by number, never mapped through this system's user names: the
// image carries its own. Names are taken below the working directory, which
// is the image's root while it is unpacked: no ".." and no absolute name can
// lead out of it, and no link either: the guard (unpack_guard.h) makes sure
// of that before each entry, as libarchive's own check of links would, at
// one open a directory rather than one a level of every name.
constexpr int extract_flags = ARCHIVE_EXTRACT_OWNER | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME |
                              ARCHIVE_EXTRACT_XATTR | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                              ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS;

// Warnings shown one by one; more are counted.
constexpr int warnings_shown = 10;

const char* type_words(mode_t type) {
    switch (type) {
        case AE_IFLNK:
            return "a symbolic link";
        case AE_IFREG:
            return "a file";
        case AE_IFCHR:
        case AE_IFBLK:
            return "a device node";
        case AE_IFIFO:
            return "a FIFO";
        default:
            return "no directory";
    }
}

std::string write_failure(archive* writer, const std::string& path) {
    if (archive_errno(writer) == ENOSPC || archive_errno(writer) == EDQUOT)
        return "the medium is full";
    const char* text = archive_error_string(writer);
    std::string line = path + ": " + (text != nullptr ? text : "cannot be made");
    if (geteuid() != 0) line += " (run obctl as root: only root keeps owners and device nodes)";
    return line;
}

// The process works in the image's root while it is unpacked, and back
// where it was afterwards (or in / when that is gone).
class InTree {
public:
    explicit InTree(const DirHandle& tree) {
        back_ = ob::kernel().open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        entered_ = ob::kernel().fchdir(tree.fd()) == 0;
    }
    ~InTree() {
        if (back_ < 0 || ob::kernel().fchdir(back_) != 0) ob::kernel().chdir("/");
        if (back_ >= 0) ob::kernel().close(back_);
    }
    InTree(const InTree&) = delete;
    InTree& operator=(const InTree&) = delete;
    bool entered() const { return entered_; }

private:
    int back_ = -1;
    bool entered_ = false;
};

class Writer {
public:
    explicit Writer(AddWatch& watch) : disk_(archive_write_disk_new()), watch_(watch) {
        archive_write_disk_set_options(disk_, extract_flags);
    }
    ~Writer() {
        if (warnings_ > warnings_shown)
            watch_.note("warning: " + std::to_string(warnings_ - warnings_shown) +
                        " more warnings like these");
        archive_write_free(disk_);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    archive* get() const { return disk_; }

    // A step's status: on with a warning told (a member stored twice, an
    // attribute this file system cannot keep), or the reason it failed.
    bool step(int status, const std::string& path, std::string& error) {
        if (status == ARCHIVE_OK) return true;
        if (status == ARCHIVE_WARN) {
            if (++warnings_ <= warnings_shown) {
                const char* text = archive_error_string(disk_);
                watch_.note("warning: " + path + ": " + (text != nullptr ? text : "warning"));
            }
            return true;
        }
        error = write_failure(disk_, path);
        return false;
    }

private:
    archive* disk_;
    AddWatch& watch_;
    int warnings_ = 0;
};

bool copy_data(ImageSource& source, Writer& writer, const std::string& path, AddWatch& watch,
               const volatile sig_atomic_t& stop, Unpacked& made, std::string& error) {
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(source.data(), &block, &size, &offset);
        if (status == ARCHIVE_EOF) return true;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
            const char* text = archive_error_string(source.data());
            error = path + ": " + (text != nullptr ? text : "cannot be read");
            return false;
        }
        const la_ssize_t wrote = archive_write_data_block(writer.get(), block, size, offset);
        if (wrote != ARCHIVE_OK && !writer.step(static_cast<int>(wrote), path, error)) return false;
        made.bytes += size;
        if (stop) {
            error = "interrupted";
            return false;
        }
        watch.unpacked(source.position(), source.input_size(), made.bytes, made.files);
    }
}

// The entry that names the image's root ("./"): a directory gives the root
// its owner and mode once everything is unpacked (as tar does); its times
// would not last, since obctl's own files go in afterwards. Anything else
// would put something other than a directory where the image's root must
// be, and is refused.
struct RootEntry {
    bool given = false;
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};

bool take_root_entry(archive_entry* entry, RootEntry& root, std::string& error) {
    if (archive_entry_filetype(entry) == AE_IFDIR && archive_entry_hardlink(entry) == nullptr) {
        root.given = true;
        root.mode = archive_entry_perm(entry);
        root.uid = static_cast<uid_t>(archive_entry_uid(entry));
        root.gid = static_cast<gid_t>(archive_entry_gid(entry));
        return true;
    }
    error = std::string("the archive's entry for the image's root (\".\") is ") +
            (archive_entry_hardlink(entry) != nullptr ? "a hard link"
                                                      : type_words(archive_entry_filetype(entry))) +
            ", not a directory: it holds no root file system";
    return false;
}

// A hard link to the image's root cannot be made, and must not be tried.
bool link_fits(archive_entry* entry, std::string& error) {
    const char* target = archive_entry_hardlink(entry);
    if (target == nullptr || strcmp(target, ".") != 0) return true;
    error = std::string(archive_entry_pathname(entry)) + ": a hard link to the image's root";
    return false;
}

bool unpack_entries(ImageSource& source, const DirHandle& tree, AddWatch& watch,
                    const volatile sig_atomic_t& stop, Unpacked& made, RootEntry& root,
                    std::string& error) {
    Writer writer(watch);
    UnpackGuard guard(tree);
    while (archive_entry* entry = source.next(error)) {
        for (const std::string& note : source.take_notes())
            watch.note(note);
        const std::string path = archive_entry_pathname(entry);
        if (path == ".") {
            if (!take_root_entry(entry, root, error)) return false;
            continue;
        }
        const char* target = archive_entry_hardlink(entry);
        if (!link_fits(entry, error) || !guard.clear_for(path, error) ||
            (target != nullptr && !guard.reachable(target, error)))
            return false;
        if (archive_entry_filetype(entry) != AE_IFDIR || target != nullptr) guard.replaced(path);
        if (!writer.step(archive_write_header(writer.get(), entry), path, error)) return false;
        ++made.files;
        const bool has_data =
            archive_entry_size(entry) > 0 && archive_entry_hardlink(entry) == nullptr;
        if (has_data && !copy_data(source, writer, path, watch, stop, made, error)) return false;
        if (!writer.step(archive_write_finish_entry(writer.get()), path, error)) return false;
        if (stop) {
            error = "interrupted";
            return false;
        }
        watch.unpacked(source.position(), source.input_size(), made.bytes, made.files);
    }
    for (const std::string& note : source.take_notes())
        watch.note(note);
    if (!error.empty()) return false;
    // The directories' own modes and times, which their files changed.
    return writer.step(archive_write_close(writer.get()), ".", error);
}

}  // namespace

bool unpack_into(ImageSource& source, const DirHandle& tree, AddWatch& watch,
                 const volatile sig_atomic_t& stop, Unpacked& made, std::string& error) {
    RootEntry root;
    {
        InTree in_tree(tree);
        if (!in_tree.entered()) {
            error = tree.shown() + ": " + strerror(errno);
            return false;
        }
        if (!unpack_entries(source, tree, watch, stop, made, root, error)) return false;
    }
    if (!source.finish(error)) return false;
    if (root.given && geteuid() == 0 &&
        (ob::kernel().fchown(tree.fd(), root.uid, root.gid) != 0 ||
         ob::kernel().fchmod(tree.fd(), root.mode) != 0)) {
        error = tree.shown() + ": " + strerror(errno);
        return false;
    }
    // Everything written below the tree reaches the disk: one flush of its
    // file system, as sync(1) would, without waiting for the box's other
    // disks.
    if (ob::kernel().syncfs(tree.fd()) == 0) return true;
    error = "cannot flush the medium: " + std::string(strerror(errno));
    return false;
}

}  // namespace obctl
