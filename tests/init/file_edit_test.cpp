// Edits of an image's files: what is replaced, what is left alone, and that
// an edit interrupted at any step leaves the old file whole.
#include "file_edit.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "image_root.h"
#include "obinit_box.h"

namespace {

using ob_test::FakeKernel;

constexpr const char* unit = "/lib/systemd/system/systemd-timesyncd.service";

TEST(ReplaceInFile, EditsEveryOccurrenceUnlessPatchedBefore) {
    const std::pair<std::string, std::string> cases[] = {
        // Every occurrence, in a comment and inside a longer word too; case
        // matters; one ending the file counts.
        {"PrivateTmp=yes\n# PrivateTmp=yes\nXPrivateTmp=yesno\nprivatetmp=yes\nPrivateTmp=yes",
         "#PrivateTmp=yes\n# #PrivateTmp=yes\nX#PrivateTmp=yesno\nprivatetmp=yes\n#PrivateTmp=yes"},
        // The replacement anywhere means patched before, even beside the text.
        {"#PrivateTmp=yes\nPrivateTmp=yes\n", "#PrivateTmp=yes\nPrivateTmp=yes\n"},
        {"[Unit]\nDescription=Time\n", "[Unit]\nDescription=Time\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        FakeKernel k;
        k.write_file(unit, c.first);
        EXPECT_EQ(obinit::replace_in_file("PrivateTmp=yes", "#PrivateTmp=yes", unit), 0);
        EXPECT_EQ(k.read_file(unit), c.second);
        // Untouched means not rewritten at all.
        EXPECT_EQ(k.calls_starting("rename(").size(), c.first != c.second ? 1u : 0u);
    }
    FakeKernel k;
    EXPECT_EQ(obinit::replace_in_file("PrivateTmp=yes", "#PrivateTmp=yes", unit), 0);
    EXPECT_FALSE(k.exists(unit)) << "a missing unit is not created";
}

// All edits of a file land in one replace, each judged on the contents the
// ones before it left.
TEST(EditFile, AllEditsOfAFileInOneReplace) {
    const obinit::TextEdit edits[] = {
        {"PrivateTmp=yes", "#PrivateTmp=yes"},
        {"ProtectHome=yes", "#ProtectHome=yes"},
        {"#ProtectHome=yes", "##ProtectHome=yes"},  // sees the edit before it
        {"", "never"},
    };
    const std::pair<std::string, std::string> cases[] = {
        {"PrivateTmp=yes\nProtectHome=yes\n", "#PrivateTmp=yes\n##ProtectHome=yes\n"},
        // The first edit was made before: the others still are.
        {"#PrivateTmp=yes\nProtectHome=yes\n", "#PrivateTmp=yes\n##ProtectHome=yes\n"},
        {"#PrivateTmp=yes\n##ProtectHome=yes\n", "#PrivateTmp=yes\n##ProtectHome=yes\n"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        FakeKernel k;
        k.write_file(unit, c.first);
        obinit::edit_file(unit, edits, 4);
        EXPECT_EQ(k.read_file(unit), c.second);
        EXPECT_EQ(k.calls_starting("rename(").size(), c.first != c.second ? 1u : 0u);
        EXPECT_EQ(k.calls_starting("fsync(").size(), c.first != c.second ? 2u : 0u)
            << "the new file and its directory";
    }
}

TEST(ReplaceInFile, KeepsModeAndEditsTheFileALinkPointsTo) {
    FakeKernel k;
    k.write_file("/etc/units/timesyncd.service", "PrivateTmp=yes\n", 0640);
    k.make_symlink("../../../etc/units/timesyncd.service", unit);
    obinit::replace_in_file("PrivateTmp=yes", "#PrivateTmp=yes", unit);
    EXPECT_EQ(k.read_file("/etc/units/timesyncd.service"), "#PrivateTmp=yes\n");
    struct stat st;
    ASSERT_EQ(k.stat("/etc/units/timesyncd.service", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // An absolute target, through a chain of two links.
    const char* connman = "/lib/systemd/system/connman.service";
    k.write_file("/usr/lib/connman.service", "ProtectHome=true\n");
    k.make_symlink("/usr/lib/connman.service", "/etc/connman.service");
    k.make_symlink("/etc/connman.service", connman);
    obinit::replace_in_file("ProtectHome=true", "#ProtectHome=true", connman);
    EXPECT_EQ(k.read_file("/usr/lib/connman.service"), "#ProtectHome=true\n");

    // A link that leads round in a circle edits nothing.
    k.make_symlink("/lib/b.service", "/lib/a.service");
    k.make_symlink("/lib/a.service", "/lib/b.service");
    obinit::replace_in_file("x", "#x", "/lib/a.service");
    EXPECT_FALSE(k.exists("/lib/a.service.obnew"));

    // A FIFO under the temporary's name fails the edit at once instead of
    // holding process 1.
    k.write_file("/etc/fstab", "/dev/root / auto defaults 1 1\n");
    k.make_fifo("/etc/fstab.obnew");
    EXPECT_FALSE(obinit::prepend_to_file("#", "/etc/fstab"));
    EXPECT_EQ(k.read_file("/etc/fstab"), "/dev/root / auto defaults 1 1\n");
}

// Fails the nth step that writes the new file (counting from 1): creating
// the temporary file, writing it, setting mode and owner, flushing, closing,
// renaming it over the old one, flushing its directory.
class CrashingKernel : public FakeKernel {
public:
    int crash_at = 0;
    int steps = 0;

    int open(const char* path, int flags, mode_t mode) override {
        return (flags & O_CREAT) && crash() ? -1 : FakeKernel::open(path, flags, mode);
    }
    ssize_t write(int fd, const void* buf, size_t count) override {
        return fd > 2 && crash() ? -1 : FakeKernel::write(fd, buf, count);
    }
    int fchmod(int fd, mode_t m) override { return crash() ? -1 : FakeKernel::fchmod(fd, m); }
    int fchown(int fd, uid_t u, gid_t g) override {
        return crash() ? -1 : FakeKernel::fchown(fd, u, g);
    }
    int fsync(int fd) override { return crash() ? -1 : FakeKernel::fsync(fd); }
    int rename(const char* a, const char* b) override {
        return crash() ? -1 : FakeKernel::rename(a, b);
    }

private:
    bool crash() {
        if (++steps != crash_at) return false;
        errno = EIO;
        return true;
    }
};

TEST(EditCrash, AnEditFailingAtAnyStepLeavesTheOldFileWhole) {
    struct Edit {
        const char* path;
        std::string before, after;
        void (*run)();
    };
    const Edit edits[] = {
        {unit, "ProtectSystem=full\n", "#ProtectSystem=full\n",
         [] { obinit::replace_in_file("ProtectSystem=full", "#ProtectSystem=full", unit); }},
        {"/etc/fstab", "/dev/root / auto defaults 1 1\n", "#/dev/root / auto defaults 1 1\n",
         [] { obinit::comment_out_fstab(); }},
    };
    for (const Edit& e : edits) {
        for (int crash_at = 1;; ++crash_at) {
            CrashingKernel k;
            k.write_file(e.path, e.before);
            k.crash_at = crash_at;
            e.run();
            if (k.steps < crash_at) {  // ran through: every step has failed once before
                EXPECT_EQ(k.read_file(e.path), e.after);
                EXPECT_GE(crash_at, 8) << "create, write, mode, owner, flush, rename, flush";
                break;
            }
            if (crash_at == k.steps && k.calls_starting("rename(").size() == 1) {
                // The directory could not be flushed: the rename stands, and
                // everything is flushed instead.
                EXPECT_EQ(k.read_file(e.path), e.after);
                EXPECT_EQ(k.calls_starting("sync()").size(), 1u);
                continue;
            }
            EXPECT_EQ(k.read_file(e.path), e.before) << e.path << ", step " << crash_at;
            EXPECT_FALSE(k.exists(std::string(e.path) + ".obnew")) << "no leftover";
        }
    }
}

}  // namespace
