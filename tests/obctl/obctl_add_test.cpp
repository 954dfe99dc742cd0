// obctl add on a real directory standing for the medium: each kind of
// source unpacked faithfully, refusals that leave the medium as it was, and
// what an interrupted add or replace leaves put right.
#include <archive.h>
#include <archive_entry.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <zstd.h>

#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "image_source.h"
#include "medium_dir.h"
#include "medium_files.h"
#include "obctl.h"
#include "operations.h"

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
    // The archive with one byte changed, `from_end` bytes before its end.
    std::string flipped(const std::string& path, long from_end) {
        std::string bytes = file(path);
        bytes[bytes.size() - static_cast<size_t>(from_end)] ^= 0x40;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        return path;
    }
    // A zstd stream with the checksum the zstd tool writes (libarchive's
    // writer leaves it out).
    std::string zstd_of(const std::string& tar, const std::string& name) {
        const std::string raw = file(tar);
        std::string packed(ZSTD_compressBound(raw.size()), '\0');
        ZSTD_CCtx* cctx = ZSTD_createCCtx();
        ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1);
        const size_t size = ZSTD_compress2(cctx, &packed[0], packed.size(), raw.data(), raw.size());
        ZSTD_freeCCtx(cctx);
        EXPECT_FALSE(ZSTD_isError(size));
        packed.resize(size);
        std::ofstream(work + "/" + name, std::ios::binary) << packed;
        return work + "/" + name;
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
    // Every name below dir with its type, mode, owner, size, contents and
    // link target, one line each: what must stay as it was.
    static std::string snapshot(const std::string& dir) {
        static std::string* lines;
        std::string all;
        lines = &all;
        nftw(
            dir.c_str(),
            [](const char* path, const struct stat* st, int, struct FTW*) {
                char target[256] = {};
                if (S_ISLNK(st->st_mode)) readlink(path, target, sizeof target - 1);
                std::string content;
                if (S_ISREG(st->st_mode)) {
                    std::ifstream in(path);
                    content = std::string(std::istreambuf_iterator<char>(in), {});
                }
                *lines += std::string(path) + " " + std::to_string(st->st_mode) + " " +
                          std::to_string(st->st_uid) + " " + target + " " + content + "\n";
                return 0;
            },
            16, FTW_PHYS);
        return all;
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

// Archives made to write elsewhere, or damaged where only the end of their
// stream tells: each is refused, or taken in with what it planted made
// harmless, and nothing outside the image changes: not the medium's files,
// not its other images, not a directory beside it.
TEST_F(AddImage, HostileOrDamagedArchivesChangeNothingOutsideTheImage) {
    const std::string good = archive_of("img.tar", root_fs);
    ASSERT_EQ(run({"add", "kept", good}), 0);
    const std::string beside = work + "/beside";
    ASSERT_EQ(system(("mkdir -p " + beside + "/dir && echo keep >" + beside + "/file").c_str()), 0);
    // Damage at the end of a stream longer than what is decoded at its
    // opening: found only once the rest is read after the tar's end.
    std::vector<Member> large = root_fs;
    std::string noise(400 * 1024, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 2654435761u) >> 13);
    large.push_back({"./noise", S_IFREG | 0644, noise, ""});
    std::vector<Member> planted = root_fs;
    planted.push_back({"./media", S_IFLNK | 0777, "", beside + "/dir"});
    planted.push_back({"./.obinfo", S_IFLNK | 0777, "", "../../obboot.ini"});
    // A name planted as a link to a file beside the medium, then written as
    // a file: the file replaces the link.
    std::vector<Member> overwrite = root_fs;
    overwrite.insert(overwrite.begin() + 4, {"./etc/shadow", S_IFLNK | 0777, "", beside + "/file"});
    overwrite.push_back({"./etc/shadow", S_IFREG | 0600, "changed\n", ""});
    // A directory swapped for a link between two of its entries; a hard
    // link whose target lies through a link.
    std::vector<Member> swapped = root_fs;
    swapped.push_back({"./var/", S_IFDIR | 0755, "", ""});
    swapped.push_back({"./var", S_IFLNK | 0777, "", beside + "/dir"});
    swapped.push_back({"./var/file", S_IFREG | 0644, "x", ""});
    std::vector<Member> hard = root_fs;
    hard.push_back({"./up", S_IFLNK | 0777, "", beside});
    hard.push_back({"./etc/file", S_IFREG | 0644, "", "up/file"});
    std::vector<Member> long_path = root_fs;
    std::string deep = ".";
    for (int level = 0; level < 50; ++level) {
        deep += "/" + std::string(99, static_cast<char>('a' + level % 26));
        long_path.push_back({deep + "/", S_IFDIR | 0755, "", ""});
    }
    long_path.push_back({deep + "/file", S_IFREG | 0644, "deep", ""});
    const struct {
        const char* name;
        std::string source;
        int status;
        std::string said;  // part of obctl's words
    } rows[] = {
        // Links in the tree before obctl's own steps are replaced, never
        // followed: the label goes into the image, media stays the link.
        {"planted links", archive_of("planted.tar", planted), 0, "added ob/x"},
        {"a file over a link", archive_of("overwrite.tar", overwrite), 0, "added ob/x"},
        {"a directory swapped for a link", archive_of("swapped.tar", swapped), 1,
         "var/file: var: the archive leads its names through a symbolic link here"},
        {"a hard link through a link", archive_of("hard.tar", hard), 1,
         "up/file: up: the archive leads its names through a symbolic link here"},
        // The image's root stays the directory obctl made.
        {"root a link off", archive_of("root-link.tar", {{".", S_IFLNK | 0777, "", beside}}), 1,
         "entry for the image's root (\".\") is a symbolic link"},
        {"root a link to an image",
         archive_of("root-image.tar", {{"./", S_IFLNK | 0777, "", "../kept"}}), 1,
         "is a symbolic link, not a directory"},
        {"root a file", archive_of("root-file.tar", {{"", S_IFREG | 0644, "x", ""}}), 1,
         "is a file, not a directory"},
        // Damage that only the end of the stream shows: a trailer's CRC, a
        // footer, a checksum, a zip member's CRC, a missing trailer.
        {"gzip CRC", flipped(archive_of("crc.tar.gz", large, ARCHIVE_FILTER_GZIP), 8), 1,
         "incorrect data check"},
        {"gzip cut", cut_in_half(archive_of("cut.tar.gz", root_fs, ARCHIVE_FILTER_GZIP)), 1,
         "it ends before its gzip stream does"},
        {"bzip2 CRC", flipped(archive_of("crc.tar.bz2", large, ARCHIVE_FILTER_BZIP2), 3), 1,
         "bzip decompression failed"},
        {"xz footer", flipped(archive_of("crc.tar.xz", large, ARCHIVE_FILTER_XZ), 12), 1,
         "Corrupted input data"},
        {"zstd checksum", flipped(zstd_of(archive_of("large.tar", large), "crc.tar.zst"), 2), 1,
         "doesn't match checksum"},
        {"zip member CRC", "", 1, "box/rootfs.tar: "},
        {"zip cut", "", 1, "crc.zip"},
        // What obctl does not read is named, never handed to a program.
        {"lrzip", work + "/img.tar.lrz", 1, "compressed with lrzip, which obctl does not read"},
        {"lz4", work + "/img.tar.lz4", 1, "compressed with lz4"},
        // A path deeper than the kernel takes goes in, and out again.
        {"5,000-byte path", archive_of("deep.tar", long_path), 0, "added ob/x"},
    };
    std::ofstream(work + "/img.tar.lrz") << "LRZI\x00\x06" << std::string(64, 'x');
    std::ofstream(work + "/img.tar.lz4") << "\x04\x22\x4d\x18" << std::string(64, 'x');
    // A stored tar in a zip, one byte of its padding changed: the tar reader
    // never looks there, the zip member's CRC does.
    const std::string stored_zip = work + "/crc.zip";
    for (int cut = 0; cut < 2; ++cut) {
        archive* a = archive_write_new();
        archive_write_set_format_zip(a);
        archive_write_zip_set_compression_store(a);
        ASSERT_EQ(archive_write_open_filename(a, stored_zip.c_str()), ARCHIVE_OK);
        archive_entry* e = archive_entry_new();
        const std::string tar = file(good);
        archive_entry_set_pathname(e, "box/rootfs.tar");
        archive_entry_set_mode(e, S_IFREG | 0644);
        archive_entry_set_size(e, static_cast<la_int64_t>(tar.size()));
        archive_write_header(a, e);
        archive_write_data(a, tar.data(), tar.size());
        archive_entry_free(e);
        archive_write_free(a);
        if (cut == 0) {
            std::string bytes = file(stored_zip);
            const size_t at = bytes.find(tar) + tar.size() - 100;
            bytes[at] ^= 1;
            std::ofstream(work + "/crc-member.zip", std::ios::binary) << bytes;
        } else {
            cut_in_half(stored_zip);
        }
    }
    const std::string before_medium = snapshot(top + "/ob/kept") + file(top + "/obboot.ini");
    const std::string before_beside = snapshot(beside);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string source = row.source;
        if (std::string(row.name) == "zip member CRC") source = work + "/crc-member.zip";
        if (std::string(row.name) == "zip cut") source = stored_zip;
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(run({"add", "x", source}), row.status);
        const std::string said =
            ::testing::internal::GetCapturedStdout() + ::testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(row.said), std::string::npos) << said;
        EXPECT_EQ(said.find("Success"), std::string::npos) << said;
        EXPECT_EQ(snapshot(top + "/ob/kept") + file(top + "/obboot.ini"), before_medium);
        EXPECT_EQ(snapshot(beside), before_beside);
        EXPECT_TRUE(hidden_left().empty());
        if (row.status == 0) {
            EXPECT_EQ(file(top + "/ob/x/.obinfo"), "x\n");
            ::testing::internal::CaptureStderr();
            const int removed = run({"remove", "x", "--yes"});
            const std::string why = ::testing::internal::GetCapturedStderr();
            EXPECT_EQ(removed, 0) << why;
        }
        EXPECT_NE(access((top + "/ob/x").c_str(), F_OK), 0);
    }
}

// Archives as real tools make them: a member GNU tar stored twice (the later
// one wins, as tar extracts it), a box image with its checksum and kernel
// beside the root archive; a directory with a socket in it; a medium whose
// ob/ is not made yet; a replace after an interrupted one.
TEST_F(AddImage, RealArchivesGoIn) {
    std::vector<Member> twice = root_fs;
    twice.push_back({"./etc/hostname", S_IFREG | 0644, "second\n", ""});
    twice.push_back({"./etc/hostname", S_IFREG | 0644, "", "etc/hostname"});
    const std::string bz2 = archive_of("rootfs.tar.bz2", root_fs, ARCHIVE_FILTER_BZIP2);
    const std::string zip = archive_of("box.zip",
                                       {{"dm900/", S_IFDIR | 0755, "", ""},
                                        {"dm900/rootfs.tar.bz2", S_IFREG | 0644, file(bz2), ""},
                                        {"dm900/rootfs.tar.bz2.md5", S_IFREG | 0644, "d41d8", ""},
                                        {"dm900/kernel.bin", S_IFREG | 0644, "k", ""},
                                        {"dm900/imageversion", S_IFREG | 0644, "v", ""}},
                                       ARCHIVE_FILTER_NONE, ARCHIVE_FORMAT_ZIP);
    const std::string dir = work + "/with-socket";
    ASSERT_EQ(
        system(("mkdir -p " + dir + " && tar -xf " + archive_of("s.tar", root_fs) + " -C " + dir)
                   .c_str()),
        0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s/etc/s", dir.c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(system(("rm -rf " + top + "/ob").c_str()), 0);
    const struct {
        const char* name;
        std::string source;
        std::string said;
    } rows[] = {
        {"stored twice", archive_of("twice.tar", twice), "added ob/twice"},
        {"box zip", zip, "dm900/rootfs.tar.bz2 (tar, bzip2) in a zip archive"},
        {"socket", dir, "passed over the socket etc/s"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(run({"add", row.name == std::string("stored twice") ? "twice" : "img", row.source,
                       "--replace"}),
                  0);
        const std::string said = ::testing::internal::GetCapturedStdout();
        EXPECT_NE(said.find(row.said), std::string::npos) << said;
    }
    close(sock);
    EXPECT_EQ(file(top + "/ob/twice/etc/hostname"), "second\n");
    EXPECT_NE(access((top + "/ob/img/etc/s").c_str(), F_OK), 0);
    // Cut between the replace's renames: the old image is put back first,
    // then replaced.
    ASSERT_EQ(rename((top + "/ob/img").c_str(), (top + "/ob/.obreplaced-img").c_str()), 0);
    EXPECT_EQ(run({"add", "img", bz2, "--replace", "--label", "again"}), 0);
    EXPECT_EQ(file(top + "/ob/img/.obinfo"), "again\n");
    EXPECT_TRUE(hidden_left().empty());
}

// A directory that is, holds or lies in the medium is no source; an image in
// which the medium is bound (a chroot on a PC, a box's running image) is
// removed without a file of the medium lost.
TEST_F(AddImage, NeverCopiesTheMediumIntoItselfNorRemovesItThroughAMount) {
    ASSERT_EQ(run({"add", "a", archive_of("img.tar", root_fs)}), 0);
    for (const std::string& source : {work, top, top + "/ob", top + "/ob/a/etc"}) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(run({"add", "b", source}), 1) << source;
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(" the medium"), std::string::npos) << said;
    }
    if (geteuid() != 0) GTEST_SKIP() << "bind mounts need root";
    const pid_t child = fork();
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
            mount(top.c_str(), (top + "/ob/a/media/ob").c_str(), nullptr, MS_BIND, nullptr) != 0)
            _exit(77);
        ::testing::internal::CaptureStderr();
        const int status = run({"remove", "a", "--yes"});
        const std::string said = ::testing::internal::GetCapturedStderr();
        _exit(status == 1 && said.find("a mount point; left in place") != std::string::npos ? 0
                                                                                            : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(file(top + "/obboot.ini"), "Flash\n");
    EXPECT_EQ(access((top + "/ob.sh").c_str(), F_OK), 0);
}

// An archive read as an upload is, from blocks as they arrive: a box zip
// read member by member goes in; one whose second box comes only after the
// first was unpacked is refused at its end, and nothing is left.
TEST_F(AddImage, AnUploadIsReadAsItArrives) {
    class Upload : public obctl::ByteStream {
    public:
        explicit Upload(std::string bytes) : bytes_(std::move(bytes)) {}
        long next(const void** block) override {
            const size_t n = std::min<size_t>(1000, bytes_.size() - at_);
            *block = bytes_.data() + at_;
            at_ += n;
            return static_cast<long>(n);
        }
        std::string why() const override { return ""; }

    private:
        std::string bytes_;
        size_t at_ = 0;
    };
    class Quiet : public obctl::AddWatch {
    public:
        void phase(Phase) override {}
        void unpacked(uint64_t, uint64_t, uint64_t, uint64_t) override {}
        void note(const std::string&) override {}
    };
    const std::string gz = file(archive_of("rootfs.tar.gz", root_fs, ARCHIVE_FILTER_GZIP));
    const struct {
        std::vector<Member> members;
        bool added;
    } rows[] = {
        {{{"dm900/rootfs.tar.gz", S_IFREG | 0644, gz, ""}, {"dm900/kernel", S_IFREG, "k", ""}},
         true},
        {{{"dm900/rootfs.tar.gz", S_IFREG | 0644, gz, ""},
          {"dm920/rootfs.tar.gz", S_IFREG | 0644, gz, ""}},
         false},
    };
    obctl::Medium medium;
    std::string error;
    ASSERT_TRUE(obctl::find_medium(top, medium, error)) << error;
    for (const auto& row : rows) {
        Upload upload(
            file(archive_of("up.zip", row.members, ARCHIVE_FILTER_NONE, ARCHIVE_FORMAT_ZIP)));
        obctl::ImageSource source;
        ASSERT_TRUE(source.open_stream(upload, "up.zip", 0, error)) << error;
        Quiet quiet;
        obctl::AddRequest request;
        request.name = row.added ? "up" : "refused";
        volatile sig_atomic_t never = 0;
        const obctl::Outcome done = obctl::add_image(medium, request, source, quiet, never);
        EXPECT_EQ(done.ok(), row.added) << done.message;
        EXPECT_EQ(access((top + "/ob/" + request.name).c_str(), F_OK) == 0, row.added);
        EXPECT_TRUE(hidden_left().empty());
        EXPECT_EQ(done.message.find("several boxes") != std::string::npos, !row.added);
    }
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
