// obctl add on a real directory standing for the medium: each kind of
// source unpacked faithfully, refusals that leave the medium as it was, and
// what an interrupted add or replace leaves put right.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "medium_files.h"
#include "obctl.h"

namespace {

struct Member {
    std::string path;
    mode_t mode;  // type and permissions
    std::string data;
    std::string link;  // a symbolic link's target, or a hard link's path
};

const std::vector<Member> root_fs = {
    {"./", S_IFDIR | 0755, "", ""},
    {"./sbin/", S_IFDIR | 0755, "", ""},
    {"./sbin/init", S_IFREG | 04755, ob_test::elf_program(), ""},
    {"./etc/", S_IFDIR | 0700, "", ""},
    {"./etc/hostname", S_IFREG | 0640, "box\n", ""},
    {"./etc/link", S_IFLNK | 0777, "", "/etc/hostname"},
    {"./etc/hard", S_IFREG | 0640, "", "etc/hostname"},
    {"./dev/", S_IFDIR | 0755, "", ""},
    {"./dev/console", S_IFCHR | 0600, "", ""},
};

class AddImage : public ::testing::Test {
protected:
    void SetUp() override {
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        work = std::string(cwd) + "/obctl-add-" + std::to_string(getpid());
        top = work + "/medium";
        ASSERT_EQ(system(("rm -rf " + work + " && mkdir -p " + top + "/ob").c_str()), 0);
        std::ofstream(top + "/ob.sh") << "";
        std::ofstream(top + "/obboot.ini") << "Flash\n";
    }
    void TearDown() override { system(("rm -rf " + work).c_str()); }

    // An archive of members, through the given filter and format.
    std::string archive_of(const std::string& name, const std::vector<Member>& members,
                           int filter = ARCHIVE_FILTER_NONE,
                           int format = ARCHIVE_FORMAT_TAR_PAX_RESTRICTED) {
        const std::string path = work + "/" + name;
        archive* a = archive_write_new();
        archive_write_add_filter(a, filter);
        archive_write_set_format(a, format);
        EXPECT_EQ(archive_write_open_filename(a, path.c_str()), ARCHIVE_OK);
        for (const Member& m : members) {
            archive_entry* e = archive_entry_new();
            archive_entry_set_pathname(e, m.path.c_str());
            archive_entry_set_mode(e, m.mode);
            archive_entry_set_uid(e, 1000 + (m.mode & 7));
            if (S_ISLNK(m.mode)) archive_entry_set_symlink(e, m.link.c_str());
            if (S_ISREG(m.mode) && !m.link.empty()) archive_entry_set_hardlink(e, m.link.c_str());
            if (S_ISCHR(m.mode)) archive_entry_set_rdev(e, makedev(5, 1));
            if (m.path == "./etc/hostname") archive_entry_xattr_add_entry(e, "user.origin", "t", 1);
            archive_entry_set_size(e, static_cast<la_int64_t>(m.data.size()));
            archive_write_header(a, e);
            archive_write_data(a, m.data.data(), m.data.size());
            archive_entry_free(e);
        }
        archive_write_free(a);
        return path;
    }
    std::string cut_in_half(const std::string& path) {
        struct stat st;
        EXPECT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(truncate(path.c_str(), st.st_size / 2), 0);
        return path;
    }
    std::string file(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    int run(std::initializer_list<std::string> args) {
        std::vector<std::string> words = {"obctl", "--medium", top};
        words.insert(words.end(), args);
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(&word[0]);
        argv.push_back(nullptr);
        return obctl::obctl_main(static_cast<int>(words.size()), argv.data());
    }
    std::vector<std::string> hidden_left() {
        std::vector<std::string> names;
        std::string listing = work + "/list";
        system(("ls -A " + top + "/ob | grep '^\\.' >" + listing).c_str());
        std::ifstream in(listing);
        for (std::string line; std::getline(in, line);)
            names.push_back(line);
        return names;
    }

    std::string work, top;
};

TEST_F(AddImage, EveryKindOfSourceUnpacksTheImageAsItWas) {
    const std::string tar = archive_of("img.tar", root_fs);
    const std::string bz2 = archive_of("rootfs.tar.bz2", root_fs, ARCHIVE_FILTER_BZIP2);
    // A published box image: the root file system archive in the box's folder.
    const std::string zip = archive_of("box.zip",
                                       {{"box/", S_IFDIR | 0755, "", ""},
                                        {"box/kernel.bin", S_IFREG | 0644, "k", ""},
                                        {"box/rootfs.tar.bz2", S_IFREG | 0644, file(bz2), ""}},
                                       ARCHIVE_FILTER_NONE, ARCHIVE_FORMAT_ZIP);
    ASSERT_EQ(run({"add", "from-tar", tar}), 0);
    const struct {
        const char* name;
        std::string source;
    } sources[] = {
        {"gz", archive_of("img.tar.gz", root_fs, ARCHIVE_FILTER_GZIP)},
        {"bz2", bz2},
        {"xz", archive_of("img.tar.xz", root_fs, ARCHIVE_FILTER_XZ)},
        {"zst", archive_of("img.tar.zst", root_fs, ARCHIVE_FILTER_ZSTD)},
        {"zip", zip},
        {"dir", work + "/ob-copy"},
    };
    ASSERT_EQ(system(("cp -a " + top + "/ob/from-tar " + work + "/ob-copy").c_str()), 0);
    for (const auto& source : sources) {
        SCOPED_TRACE(source.name);
        ASSERT_EQ(run({"add", source.name, source.source, "--label", "Label"}), 0);
        const std::string image = top + "/ob/" + source.name;
        struct stat st, hard;
        ASSERT_EQ(lstat((image + "/sbin/init").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode, S_IFREG | 04755u);
        EXPECT_EQ(st.st_uid, 1005u);
        ASSERT_EQ(lstat((image + "/etc").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        ASSERT_EQ(lstat((image + "/etc/hostname").c_str(), &st), 0);
        ASSERT_EQ(lstat((image + "/etc/hard").c_str(), &hard), 0);
        EXPECT_EQ(st.st_ino, hard.st_ino);
        EXPECT_EQ(file(image + "/etc/hostname"), "box\n");
        char target[64] = {};
        EXPECT_GT(readlink((image + "/etc/link").c_str(), target, sizeof target - 1), 0);
        EXPECT_STREQ(target, "/etc/hostname");
        char origin[4] = {};
        EXPECT_EQ(lgetxattr((image + "/etc/hostname").c_str(), "user.origin", origin, 3), 1);
        ASSERT_EQ(lstat((image + "/dev/console").c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode) && st.st_rdev == makedev(5, 1));
        ASSERT_EQ(lstat((image + "/tmp").c_str(), &st), 0);  // obinit's mount points
        EXPECT_EQ(st.st_mode, S_IFDIR | 01777u);
        EXPECT_EQ(file(image + "/.obinfo"), "Label\n");
    }
    EXPECT_TRUE(hidden_left().empty());
}

TEST_F(AddImage, RefusalsAndFailuresLeaveTheMediumAsItWas) {
    const std::string good = archive_of("img.tar", root_fs);
    ASSERT_EQ(run({"add", "kept", good, "--slot", "3"}), 0);
    EXPECT_EQ(file(top + "/ob/3/.obinfo"), "kept\n");
    const std::vector<Member> no_init = {{"./etc/", S_IFDIR | 0755, "", ""}};
    const std::vector<Member> escaping = {
        {"./sbin/init", S_IFREG | 0755, ob_test::elf_program(), ""},
        {"../outside", S_IFREG | 0644, "x", ""}};
    const std::vector<Member> through_link = {{"./etc", S_IFLNK | 0777, "", work},
                                              {"./etc/outside", S_IFREG | 0644, "x", ""}};
    const struct {
        std::vector<std::string> args;
        std::string error;  // the start of obctl's line
    } refused[] = {
        {{"add", "my image", good}, "obctl: add: \"my image\": image name holds a blank"},
        {{"add", "Flash", good}, "obctl: add: \"Flash\": no name the menu lists"},
        {{"add", ".hidden", good}, "obctl: add: \".hidden\""},
        {{"add", std::string(70, 'n'), good}, "obctl: add: \"nnnn"},
        {{"add", "x", good, "--slot", "9"}, "obctl: add: --slot takes a number from 1 to 8"},
        {{"add", "3", good}, "obctl: add: ob/3 is there already (--replace"},
        {{"add", "x", work + "/list"}, "obctl: add: "},
        {{"add", "x", top}, "obctl: add: " + top + " is the medium's top directory"},
        {{"add", "3", archive_of("no-init.tar", no_init), "--replace"},
         "obctl: add: Orbiel: image directory /media/ob/ob/3 holds no init program; nothing added"},
        {{"add", "x", archive_of("escaping.tar", escaping)}, "obctl: add: ../outside: "},
        {{"add", "x", archive_of("through-link.tar", through_link)}, "obctl: add: etc/outside: "},
        {{"add", "x", cut_in_half(archive_of("cut.tar.xz", root_fs, ARCHIVE_FILTER_XZ))},
         "obctl: add: "},
    };
    std::ofstream(work + "/list") << "not an archive\n";
    for (const auto& r : refused) {
        SCOPED_TRACE(r.args[1]);
        std::vector<std::string> words = {"obctl", "--medium", top};
        words.insert(words.end(), r.args.begin(), r.args.end());
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(&word[0]);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(obctl::obctl_main(static_cast<int>(words.size()), argv.data()), 1);
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(r.error), std::string::npos) << said;
        EXPECT_TRUE(hidden_left().empty());
        EXPECT_EQ(file(top + "/ob/3/.obinfo"), "kept\n");
        EXPECT_NE(access((top + "/ob/x").c_str(), F_OK), 0);
        EXPECT_NE(access((work + "/outside").c_str(), F_OK), 0);
    }
    ASSERT_EQ(run({"add", "3", good, "--replace", "--label", "new"}), 0);
    EXPECT_EQ(file(top + "/ob/3/.obinfo"), "new\n");
}

TEST_F(AddImage, TheNextCheckFinishesWhatAnInterruptedAddLeft) {
    const std::string good = archive_of("img.tar", root_fs);
    ASSERT_EQ(run({"add", "a", good}), 0);
    ASSERT_EQ(run({"add", "b", good}), 0);
    // Cut while unpacking; cut between the replace's two renames; cut while
    // the replaced image was deleted.
    ASSERT_EQ(system(("mkdir -p " + top + "/ob/.obadd-1/etc && mv " + top + "/ob/a " + top +
                      "/ob/.obreplaced-a && cp -a " + top + "/ob/b " + top + "/ob/.obreplaced-b")
                         .c_str()),
              0);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(run({"check", "a"}), 0);
    const std::string said = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(said.find("put back ob/a"), std::string::npos) << said;
    EXPECT_NE(said.find("removed ob/.obadd-1, left by an interrupted obctl add"),
              std::string::npos);
    EXPECT_TRUE(hidden_left().empty());
    EXPECT_EQ(file(top + "/ob/a/.obinfo"), "a\n");
}

}  // namespace
