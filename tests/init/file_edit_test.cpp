// Edits of an image's files: what is replaced, what is left alone, and that
// an edit interrupted at any step leaves the old file whole.
#include "file_edit.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "fake_kernel.h"
#include "obinit.h"

namespace {

using ob_test::FakeKernel;

constexpr const char* unit = "/lib/systemd/system/systemd-timesyncd.service";

const char* find(const std::string& haystack, const char* needle) {
    return obinit::find_bytes(haystack.data(), haystack.data() + haystack.size(), needle,
                              strlen(needle));
}

TEST(FindBytes, FindsTheFirstOccurrenceWhollyInsideTheRange) {
    const std::string text = "abcabc";
    EXPECT_EQ(find(text, "abc"), text.data());
    EXPECT_EQ(find(text, "bca"), text.data() + 1);
    EXPECT_EQ(find(text, "c"), text.data() + 2);
    EXPECT_EQ(find(text, "bc"), text.data() + 1);
    // Ends exactly at the end of the range: found; would run past it: not.
    EXPECT_EQ(obinit::find_bytes(text.data() + 3, text.data() + 6, "abc", 3), text.data() + 3);
    EXPECT_EQ(obinit::find_bytes(text.data(), text.data() + 5, "cabc", 4), nullptr);
    EXPECT_EQ(find(text, "abcabcd"), nullptr);
    EXPECT_EQ(find(text, "ABC"), nullptr);
    EXPECT_EQ(obinit::find_bytes(text.data(), text.data(), "a", 1), nullptr);
    // Bytes, not strings: a NUL inside the range is matched like any other.
    const std::string binary("x\0y", 3);
    EXPECT_EQ(obinit::find_bytes(binary.data(), binary.data() + 3, "\0y", 2), binary.data() + 1);
}

class ReplaceInFile : public ::testing::Test {
protected:
    FakeKernel k;

    void replace(const char* text, const char* replacement, const char* path = unit) {
        EXPECT_EQ(obinit::replace_in_file(text, replacement, path), 0);
    }
    std::vector<std::string> edits() const { return k.calls_starting("rename("); }
};

TEST_F(ReplaceInFile, ReplacesEveryOccurrenceByteExactly) {
    k.write_file(unit,
                 "[Service]\nPrivateTmp=yes\n# PrivateTmp=yes in a comment\nXPrivateTmp=yesno\n"
                 "privatetmp=yes\nPrivateTmp=yes");
    replace("PrivateTmp=yes", "#PrivateTmp=yes");
    EXPECT_EQ(k.read_file(unit),
              "[Service]\n#PrivateTmp=yes\n# #PrivateTmp=yes in a comment\nX#PrivateTmp=yesno\n"
              "privatetmp=yes\n#PrivateTmp=yes");
    EXPECT_EQ(edits().size(), 1u);
}

TEST_F(ReplaceInFile, LeavesAPatchedFileAlone) {
    // Patched before, even though an uncommented line remains.
    const std::string both = "#ProtectHome=yes\nProtectHome=yes\n";
    k.write_file(unit, both);
    replace("ProtectHome=yes", "#ProtectHome=yes");
    EXPECT_EQ(k.read_file(unit), both);

    // Applying an edit twice changes the file once.
    k.write_file(unit, "PrivateDevices=yes\n");
    replace("PrivateDevices=yes", "#PrivateDevices=yes");
    replace("PrivateDevices=yes", "#PrivateDevices=yes");
    EXPECT_EQ(k.read_file(unit), "#PrivateDevices=yes\n");
    EXPECT_EQ(edits().size(), 1u);
}

TEST_F(ReplaceInFile, LeavesAFileWithoutTheTextAndAMissingFileUntouched) {
    k.write_file(unit, "[Unit]\nDescription=Network Time Synchronization\n");
    replace("MountFlags=slave", "#MountFlags=slave");
    EXPECT_EQ(k.read_file(unit), "[Unit]\nDescription=Network Time Synchronization\n");

    replace("MountFlags=slave", "#MountFlags=slave", "/lib/systemd/system/none.service");
    EXPECT_FALSE(k.exists("/lib/systemd/system/none.service"));

    k.write_file("/lib/systemd/system/empty.service", "");
    replace("MountFlags=slave", "#MountFlags=slave", "/lib/systemd/system/empty.service");
    EXPECT_EQ(k.read_file("/lib/systemd/system/empty.service"), "");
    EXPECT_TRUE(edits().empty());
    EXPECT_TRUE(k.stderr_text.empty());
}

TEST_F(ReplaceInFile, KeepsModeAndEditsTheFileALinkPointsTo) {
    k.write_file("/etc/units/timesyncd.service", "PrivateTmp=yes\n", 0640);
    k.make_symlink("../../../etc/units/timesyncd.service", unit);
    replace("PrivateTmp=yes", "#PrivateTmp=yes");
    EXPECT_EQ(k.read_file("/etc/units/timesyncd.service"), "#PrivateTmp=yes\n");
    struct stat st;
    ASSERT_EQ(k.lstat(unit, &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
    ASSERT_EQ(k.stat("/etc/units/timesyncd.service", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // An absolute target, through a chain of two links.
    k.write_file("/usr/lib/connman.service", "ProtectHome=true\n");
    k.make_symlink("/usr/lib/connman.service", "/etc/connman.service");
    k.make_symlink("/etc/connman.service", "/lib/systemd/system/connman.service");
    replace("ProtectHome=true", "#ProtectHome=true", "/lib/systemd/system/connman.service");
    EXPECT_EQ(k.read_file("/usr/lib/connman.service"), "#ProtectHome=true\n");

    // A link that leads nowhere, or round in a circle, edits nothing.
    k.make_symlink("/etc/missing.service", "/lib/systemd/system/dangling.service");
    k.make_symlink("/lib/systemd/system/b.service", "/lib/systemd/system/a.service");
    k.make_symlink("/lib/systemd/system/a.service", "/lib/systemd/system/b.service");
    replace("x", "#x", "/lib/systemd/system/dangling.service");
    replace("x", "#x", "/lib/systemd/system/a.service");
    EXPECT_FALSE(k.exists("/etc/missing.service"));
}

// Fails the nth step that writes the new file (counting from 1): creating
// the temporary file, writing it, setting mode and owner, flushing, closing,
// renaming it over the old one.
class CrashingKernel : public FakeKernel {
public:
    int crash_at = 0;
    int steps = 0;

    int open(const char* path, int flags, mode_t mode) override {
        if ((flags & O_CREAT) && crash()) return -1;
        return FakeKernel::open(path, flags, mode);
    }
    ssize_t write(int fd, const void* buf, size_t count) override {
        if (fd > 2 && crash()) return -1;
        return FakeKernel::write(fd, buf, count);
    }
    int fchmod(int fd, mode_t mode) override { return crash() ? -1 : FakeKernel::fchmod(fd, mode); }
    int fchown(int fd, uid_t owner, gid_t group) override {
        return crash() ? -1 : FakeKernel::fchown(fd, owner, group);
    }
    int fsync(int fd) override { return crash() ? -1 : FakeKernel::fsync(fd); }
    int rename(const char* from, const char* to) override {
        return crash() ? -1 : FakeKernel::rename(from, to);
    }

private:
    bool crash() {
        if (++steps != crash_at) return false;
        errno = EIO;
        return true;
    }
};

TEST(ReplaceInFileCrash, AnInterruptedEditLeavesTheOldFileWhole) {
    const std::string old_unit = "[Service]\nProtectSystem=full\nProtectHome=yes\n";
    int steps = 0;
    for (int crash_at = 1;; ++crash_at) {
        CrashingKernel k;
        k.write_file(unit, old_unit, 0644);
        k.crash_at = crash_at;
        obinit::replace_in_file("ProtectSystem=full", "#ProtectSystem=full", unit);
        if (k.steps < crash_at) {
            // Ran through: the last round made the edit.
            EXPECT_EQ(k.read_file(unit), "[Service]\n#ProtectSystem=full\nProtectHome=yes\n");
            break;
        }
        EXPECT_EQ(k.read_file(unit), old_unit) << "crash at step " << crash_at;
        EXPECT_FALSE(k.exists(std::string(unit) + ".obnew")) << "crash at step " << crash_at;
        steps = crash_at;
    }
    EXPECT_GE(steps, 5) << "create, write, mode, owner, flush, rename";
}

TEST(CommentOutFstabCrash, AnInterruptedEditLeavesTheOldTableWhole) {
    const std::string table = "/dev/mtdblock2 / jffs2 defaults 0 0\nproc /proc proc defaults 0 0\n";
    for (int crash_at = 1;; ++crash_at) {
        CrashingKernel k;
        k.write_file("/etc/fstab", table);
        k.crash_at = crash_at;
        const int result = obinit::comment_out_fstab();
        if (k.steps < crash_at) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(k.read_file("/etc/fstab"), "#" + table);
            break;
        }
        EXPECT_EQ(result, 1) << "crash at step " << crash_at;
        EXPECT_EQ(k.read_file("/etc/fstab"), table) << "crash at step " << crash_at;
    }
}

}  // namespace
