// obctl against a medium mounted away from /media/ob (/mnt/stick in the
// fake kernel's tree): what it shows, what it refuses, and that each write
// is one atomic replace on the medium.
#include "obctl.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "../menu/test_pictures.h"
#include "fake_kernel.h"
#include "medium_files.h"

namespace {

using Calls = std::vector<std::string>;
const std::string top = "/mnt/stick";

class Stick : public ob_test::FakeKernel {
public:
    Stick() {
        write_file(top + "/ob.sh", "");
        write_file(top + "/obboot.ini", "Flash\n");
        write_file("/proc/self/mounts", "/dev/sdb1 /mnt/stick ext4 rw,relatime 0 0\n");
        write_file("/dev/sdb1", ob_test::ext_volume("obmedia", 0x4, 0x2c2, 0));
    }
    // An image obinit would boot (or, without init, one it would not).
    void image(const std::string& name, const std::string& info = "", bool init = true) {
        write_file(top + "/ob/" + name + "/.obinfo", info);
        for (const char* dir : {"/media/ob", "/sys", "/dev", "/proc", "/tmp"})
            make_dir(top + "/ob/" + name + dir);
        if (init) write_file(top + "/ob/" + name + "/sbin/init", ob_test::elf_program(), 0755);
    }
    std::string file(const std::string& below_top) const {
        return read_file(top + "/" + below_top);
    }
    bool has(const std::string& below_top) const { return exists(top + "/" + below_top); }
    // One run of obctl on the stick; its exit status. Output is what this
    // run printed.
    int run(std::initializer_list<std::string> args) {
        std::vector<std::string> words = {"obctl", "--medium", top};
        words.insert(words.end(), args);
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(&word[0]);
        argv.push_back(nullptr);
        stdout_text.clear();
        stderr_text.clear();
        calls.clear();
        return obctl::obctl_main(static_cast<int>(argv.size() - 1), argv.data());
    }
    size_t first(const std::string& call) const {
        for (size_t i = 0; i < calls.size(); ++i)
            if (calls[i] == call) return i;
        return calls.size();
    }
};

// The menu's entries (sorted by label, numbered images with their
// description), obinit's verdict on each, and what the menu leaves out.
TEST(ObctlList, TheMenusEntriesWithObinitsVerdictAsJson) {
    Stick stick;
    stick.image("img2");
    stick.image("1", "OpenXYZ 6.1\n");
    stick.image("half", "", false);
    stick.make_dir(top + "/ob/noinfo");
    stick.image("my img");
    stick.image(".hidden");
    stick.write_file(top + "/obboot.ini", "img2\n");
    EXPECT_EQ(stick.run({"list", "--json"}), 0);
    const std::string listed =
        R"j({"entries":[{"index":0,"name":"Flash","label":"Flash","preselected":false,)j"
        R"j("boots":true},{"index":1,"name":"1","label":"1 (OpenXYZ)","preselected":false,)j"
        R"j("boots":true},{"index":2,"name":"half","label":"half","preselected":false,)j"
        R"j("boots":false,"problem":"image directory /media/ob/ob/half holds no init program"},)j"
        R"j({"index":3,"name":"img2","label":"img2","preselected":true,"boots":true}],)j"
        R"j("not_listed":[{"name":"my img","reason":"image name holds a blank, tab or line end, )j"
        R"j(not listed","boots":true},{"name":"noinfo","reason":"no .obinfo, not listed",)j"
        R"j("boots":false,"problem":"image directory /media/ob/ob/noinfo holds no init program"}]})j";
    EXPECT_EQ(stick.stdout_text, listed + "\n");
    EXPECT_EQ(stick.calls_starting("flock("), Calls{R"j(flock("/mnt/stick", LOCK_SH|LOCK_NB))j"});
    EXPECT_EQ(stick.run({"list"}), 0);
    EXPECT_NE(stick.stdout_text.find(" * 3  img2 "), std::string::npos);
}

// Settings as the programs apply them, the medium's partition, and the
// findings of check in the words of the programs.
TEST(ObctlStatus, EffectiveSettingsTheMediumAndTheFindings) {
    Stick stick;
    stick.image("img1");
    stick.write_file("/dev/sdb1", ob_test::ext_volume("obmedia", 0x4, 0x2c2, 0x400));
    stick.write_file(top + "/.obtimeout", "45\n");
    stick.write_file(top + "/.obcolor", "200");
    stick.write_file(top + "/.obbootcolor", "yuv\n");
    stick.write_file(top + "/.obnobootmanager", "");
    stick.write_file(top + "/.oblocked", "not a digest\n");
    stick.write_file(top + "/.oblog", "-----\nOrbiel V12.45 Orbiel free build\n");
    stick.write_file(top + "/obboot.ini", "ghost\n");
    stick.write_file(top + "/logos/orbiel.jpg", "");
    ASSERT_TRUE(ob_test::write_jpeg(stick.host_path("/mnt/stick/logos/orbiel.jpg"), 640, 480, 3));
    EXPECT_EQ(stick.run({"status", "--json"}), 0);
    const char* const parts[] = {
        R"j({"medium":{"directory":"/mnt/stick","device":"/dev/sdb1","file_system":"ext4",)j"
        R"j("label":"obmedia","free_bytes":)j",
        R"j("orbiel_version":"12.45","choice":{"stored":"ghost","one_shot":null},)j",
        R"j("settings":{"timeout":30,"pin":true,"color":0,"resolution":"1280x720",)j"
        R"j("progress":false,"menu":false,"bootcolor":"yuv","mask":null},"entries":[)j",
        R"j({"severity":"error","subject":"medium","text":"cannot mount /dev/sdb1 on /media/ob: )j"
        R"j(it uses metadata_csum, which Linux 3.4 lacks (e2fsck -f /dev/sdb1 && tune2fs -O )j"
        R"j(^metadata_csum /dev/sdb1 && e2fsck -f /dev/sdb1)"})j",
        R"j({"severity":"warning","subject":".obtimeout","text":"holds \"45\", taken as 30 )j"
        R"j(seconds (a whole number of seconds from 2 to 30)"})j",
        R"j("subject":".obcolor","text":"holds \"200\", taken as grey 0 )j",
        R"j("subject":".oblocked","text":"holds no MD5 digest of a PIN)j",
        R"j({"severity":"error","subject":"obboot.ini","text":"names ghost: cannot enter image )j"
        R"j(directory /media/ob/ob/ghost: )j",
        R"j("subject":"obboot.ini","text":"the menu preselects Flash, obinit boots ghost"})j",
        R"j("subject":"logos/orbiel.jpg","text":"jpeg size is 640x480 - should be at least )j"
        R"j(1280x720"})j",
        R"j("subject":"fonts/orbiel.ttf","text":"Freetype <Schrift \"/media/ob/fonts/orbiel.ttf\" )j"
        R"j(fehlgeschlagen>: no menu, obinit boots the stored choice"})j",
    };
    for (const char* part : parts)
        EXPECT_NE(stick.stdout_text.find(part), std::string::npos) << part;
    EXPECT_EQ(stick.stdout_text.find(".obbootcolor"), std::string::npos)
        << "a word obinit takes as it is";
    EXPECT_EQ(stick.run({"check"}), 1);
    EXPECT_EQ(stick.stderr_text, "obctl: check: 2 errors\n");
    EXPECT_EQ(stick.run({"check", "img1"}), 0) << stick.stdout_text;
    EXPECT_EQ(stick.run({"check", "img9"}), 1);
}

// A value is written only when the programs take it as it is; the refusal
// says what is taken.
TEST(ObctlSet, RefusesWhatTheProgramsWouldClampCutOrIgnore) {
    const struct {
        const char* key;
        const char* value;
        int status;
        const char* file;
        const char* content;  // nullptr: no file
    } rows[] = {
        {"timeout", "15", 0, ".obtimeout", "15\n"},
        {"timeout", "1", 1, ".obtimeout", nullptr},
        {"timeout", "45", 1, ".obtimeout", nullptr},
        {"timeout", "015", 1, ".obtimeout", nullptr},
        {"color", "127", 0, ".obcolor", "127\n"},
        {"color", "128", 1, ".obcolor", nullptr},
        {"resolution", "1080", 0, ".obresolution", "1080\n"},
        {"resolution", "720", 1, ".obresolution", nullptr},
        {"bootcolor", "yuv", 0, ".obbootcolor", "yuv\n"},
        {"mask", "4 5", 1, ".obmask", nullptr},
        {"progress", "on", 0, ".obprogress", ""},
        {"progress", "yes", 1, ".obprogress", nullptr},
        {"menu", "off", 0, ".obnobootmanager", ""},
        {"locked", "x", 2, ".oblocked", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.key) + " " + row.value);
        Stick stick;
        EXPECT_EQ(stick.run({"set", row.key, row.value}), row.status);
        EXPECT_EQ(stick.has(row.file), row.content != nullptr);
        if (row.content != nullptr) {
            EXPECT_EQ(stick.file(row.file), row.content);
        }
        if (row.status == 1) {
            EXPECT_NE(stick.stderr_text.find(" takes "), std::string::npos);
        }
        if (row.status != 0) continue;
        // The new file whole under a temporary name, on the disk, then
        // renamed into place and the rename flushed.
        const std::string path = top + "/" + row.file;
        const std::string name = row.file;
        const size_t written = stick.first("fsync(\"" + path + ".obnew\")");
        const size_t renamed = stick.first("renameat(\"" + top + "\", \"" + name + ".obnew\", \"" +
                                           top + "\", \"" + name + "\")");
        EXPECT_LT(written, renamed);
        EXPECT_LT(renamed, stick.first("fsync(\"/mnt/stick\")"));
        EXPECT_EQ(stick.calls_starting("flock("),
                  Calls{R"j(flock("/mnt/stick", LOCK_EX|LOCK_NB))j"});
        EXPECT_EQ(stick.run({"unset", row.key}), 0);
        EXPECT_FALSE(stick.has(row.file));
    }
}

// The lock holds the digest the menu checks a typed PIN against: "0123"
// is entered on the remote as the number 123.
TEST(ObctlPin, StoredAsTheMenuChecksItAndRemoved) {
    Stick stick;
    EXPECT_EQ(stick.run({"pin", "set", "--pin", "0123"}), 0);
    EXPECT_EQ(stick.file(".oblocked"), "144f2214061ac1763586138e3b420071\n");
    for (const char* pin : {"123", "12345", "12a4"}) {
        EXPECT_EQ(stick.run({"pin", "set", "--pin", pin}), 1) << pin;
        EXPECT_EQ(stick.stderr_text, "obctl: pin: a PIN is four digits, 0 to 9\n");
    }
    EXPECT_EQ(stick.run({"pin", "set"}), 1) << "nothing typed at the console";
    EXPECT_EQ(stick.file(".oblocked"), "144f2214061ac1763586138e3b420071\n");
    EXPECT_EQ(stick.run({"pin", "off"}), 0);
    EXPECT_FALSE(stick.has(".oblocked"));
    EXPECT_EQ(stick.run({"pin", "frob"}), 2);
}

// The choice is stored as the menu stores it, only for an image obinit
// would boot, and follows its image through a rename and a removal.
TEST(ObctlChoice, StoredForBootableImagesAndMovedWithThem) {
    Stick stick;
    stick.image("img1");
    stick.image("img2");
    stick.image("half", "", false);
    stick.write_file(top + "/ob/img2/etc/fstab", "x");
    for (const char* refused : {"half", "nothere", "..", "a b"})
        EXPECT_EQ(stick.run({"set-default", refused}), 1) << refused;
    EXPECT_EQ(stick.file("obboot.ini"), "Flash\n");
    EXPECT_EQ(stick.run({"set-default", "img2"}), 0);
    EXPECT_EQ(stick.run({"set-oneshot", "img2"}), 0);
    EXPECT_EQ(stick.file(".oboneshot"), "img2\n");

    for (const std::string& refused :
         std::vector<std::string>{"Flash", "img1", ".new", "a b", std::string(64, 'n')})
        EXPECT_EQ(stick.run({"rename", "img2", refused}), 1) << refused;
    EXPECT_EQ(stick.run({"rename", "img2", "new2"}), 0);
    EXPECT_EQ(stick.file("obboot.ini"), "new2\n");
    EXPECT_EQ(stick.file(".oboneshot"), "new2\n");
    EXPECT_EQ(stick.file("ob/new2/etc/fstab"), "x");

    EXPECT_EQ(stick.run({"remove", "new2"}), 1) << "no one answered yes";
    EXPECT_TRUE(stick.has("ob/new2"));
    EXPECT_EQ(stick.run({"remove", "new2", "--yes"}), 0);
    EXPECT_FALSE(stick.has("ob/new2"));
    EXPECT_EQ(stick.file("obboot.ini"), "Flash\n");
    EXPECT_FALSE(stick.has(".oboneshot"));
    // Out of the list at once, deleted after.
    const size_t hidden =
        stick.first(R"j(renameat("/mnt/stick/ob", "new2", "/mnt/stick/ob", ".obremove-1"))j");
    EXPECT_LT(hidden, stick.first(R"j(unlinkat("/mnt/stick/ob/.obremove-1/etc", "fstab", 0))j"));
    EXPECT_LT(
        stick.first(R"j(renameat("/mnt/stick", "obboot.ini.obnew", "/mnt/stick", "obboot.ini"))j"),
        hidden);
    // A removal cut short is finished by the next.
    stick.write_file(top + "/ob/.obremove-1/left", "");
    EXPECT_EQ(stick.run({"remove", "img1", "--yes"}), 0);
    EXPECT_FALSE(stick.has("ob/.obremove-1"));
    EXPECT_EQ(stick.run({"label", "1", "x"}), 1);
    stick.image("1", "OpenXYZ 6.1\n");
    EXPECT_EQ(stick.run({"label", "1", "MyOS"}), 0);
    EXPECT_EQ(stick.file("ob/1/.obinfo"), "MyOS 6.1\n");
    EXPECT_EQ(stick.run({"label", "1", "two words"}), 1);
}

// Links that lead off the medium are never written through or into, a
// removal never follows one, and the image the box runs from stays.
TEST(ObctlSafety, NeverWritesOffTheMediumNorTouchesTheRunningImage) {
    Stick stick;
    stick.image("img1");
    stick.write_file("/etc/secret", "keep");
    stick.make_dir("/srv/outside");
    stick.write_file("/srv/outside/file", "keep");
    stick.unlink((top + "/obboot.ini").c_str());
    stick.make_symlink("/etc/secret", top + "/obboot.ini");
    EXPECT_EQ(stick.run({"set-default", "img1"}), 1);
    EXPECT_NE(stick.stderr_text.find("leads off the medium"), std::string::npos);
    EXPECT_EQ(stick.read_file("/etc/secret"), "keep");
    stick.make_symlink("/srv/outside", top + "/ob/1");
    EXPECT_EQ(stick.run({"label", "1", "x"}), 1);
    EXPECT_FALSE(stick.exists("/srv/outside/.obinfo"));
    stick.make_symlink("/srv/outside", top + "/ob/img1/data");
    EXPECT_EQ(stick.run({"remove", "img1", "--yes"}), 0);
    EXPECT_EQ(stick.read_file("/srv/outside/file"), "keep");

    // On the box, from a shell of the image: the medium is bound into it.
    stick.image("img2");
    ASSERT_EQ(
        stick.mount(top.c_str(), (top + "/ob/img2/media/ob").c_str(), nullptr, MS_BIND, nullptr),
        0);
    ASSERT_EQ(stick.chroot((top + "/ob/img2").c_str()), 0);
    for (std::initializer_list<std::string> args :
         {std::initializer_list<std::string>{"--medium", "/media/ob", "remove", "img2", "--yes"},
          {"--medium", "/media/ob", "rename", "img2", "img3"}}) {
        std::vector<std::string> words = {"obctl"};
        words.insert(words.end(), args);
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(&word[0]);
        EXPECT_EQ(obctl::obctl_main(static_cast<int>(argv.size()), argv.data()), 1);
        EXPECT_NE(stick.stderr_text.find("img2 is the image the box runs from"), std::string::npos);
    }
    EXPECT_TRUE(stick.exists(top + "/ob/img2/sbin/init"));
}

// A medium laid out from the release's tree, again without a change, and
// upgraded: the programs replaced, the user's logo, settings and choice
// kept. A partition obinit would not find is refused.
TEST(ObctlPrepare, LaysOutOnceAndUpgradesOnlyThePrograms) {
    Stick stick;
    stick.unlink((top + "/ob.sh").c_str());
    stick.unlink((top + "/obboot.ini").c_str());
    stick.write_file("/bundle/ob.sh", "#!/bin/sh\n", 0755);
    stick.write_file("/bundle/bin/orbiel", "menu 1", 0755);
    stick.write_file("/bundle/logos/orbiel.jpg", "logo");
    stick.make_dir("/bundle/ob");
    EXPECT_EQ(stick.run({"prepare", top, "--from", "/bundle"}), 0) << stick.stderr_text;
    struct stat st;
    ASSERT_EQ(stick.lstat((top + "/bin/orbiel").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(stick.file("obboot.ini"), "Flash\n");
    EXPECT_TRUE(stick.has("ob"));
    EXPECT_EQ(stick.run({"prepare", top, "--from", "/bundle"}), 0);
    EXPECT_NE(stick.stdout_text.find(": 0 files written"), std::string::npos);
    stick.write_file(top + "/logos/orbiel.jpg", "mine");
    stick.write_file(top + "/obboot.ini", "img1\n");
    stick.write_file("/bundle/bin/orbiel", "menu 2", 0755);
    EXPECT_EQ(stick.run({"prepare", top, "--from", "/bundle"}), 1);
    EXPECT_NE(stick.stderr_text.find("bin/orbiel differs); --upgrade replaces them"),
              std::string::npos);
    EXPECT_EQ(stick.run({"prepare", top, "--from", "/bundle", "--upgrade"}), 0);
    EXPECT_EQ(stick.file("bin/orbiel"), "menu 2");
    EXPECT_EQ(stick.file("logos/orbiel.jpg"), "mine");
    EXPECT_EQ(stick.file("obboot.ini"), "img1\n");
    // A tree a PC's own build installed: its menu is for the PC.
    ob_test::Elf x86;
    x86.machine = 62;
    stick.write_file("/bundle/bin/orbiel", ob_test::elf_program(x86), 0755);
    EXPECT_EQ(stick.run({"prepare", top, "--from", "/bundle", "--upgrade"}), 1);
    EXPECT_NE(stick.stderr_text.find("bin/orbiel is a program for x86-64, not for 32-bit"),
              std::string::npos);
    EXPECT_EQ(stick.file("bin/orbiel"), "menu 2");
    stick.write_file("/dev/sdb1", ob_test::ext_volume("media", 0x4, 0x2c2, 0));
    EXPECT_EQ(stick.run({"prepare", top, "--from", "/bundle"}), 1);
    EXPECT_NE(stick.stderr_text.find("obinit finds only a medium whose label begins with ob"),
              std::string::npos);
}

TEST(ObctlUsage, StatusTwoForUsageOneForAFailureEachWithOneLine) {
    Stick stick;
    EXPECT_EQ(stick.run({}), 2);
    EXPECT_EQ(stick.run({"frob"}), 2);
    EXPECT_EQ(stick.run({"status", "extra"}), 2);
    EXPECT_EQ(stick.run({"list", "--yes"}), 2);
    EXPECT_EQ(stick.run({"help"}), 0);
    EXPECT_NE(stick.stdout_text.find("set-oneshot NAME|Flash"), std::string::npos);
    EXPECT_EQ(stick.run({"pin", "--help"}), 0);
    EXPECT_NE(stick.stdout_text.find("guards the choice of image, not the box"), std::string::npos);
    std::vector<std::string> words = {"obctl", "--medium", "/nowhere", "status"};
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    stick.stderr_text.clear();
    EXPECT_EQ(obctl::obctl_main(4, argv.data()), 1);
    EXPECT_EQ(stick.stderr_text.find('\n'), stick.stderr_text.size() - 1);
}

// web password keeps a salted hash only; web enable adds the start of obctl
// serve the way the running image's init starts things, disable takes exactly
// that away, and an image of no known kind, or no box, is refused.
TEST(ObctlWeb, ThePasswordAndTheStartAtBootOfEachKindOfImage) {
    Stick stick;
    stick.write_file("/dev/urandom", std::string(64, '\x5a'));
    EXPECT_EQ(stick.run({"serve"}), 1);
    EXPECT_NE(stick.stderr_text.find("set one with obctl web password"), std::string::npos);
    stick.write_file("/tmp/pw", "short\n");
    EXPECT_EQ(stick.run({"web", "password", "--password-file", "/tmp/pw"}), 1);
    EXPECT_NE(stick.stderr_text.find("8 to 128 characters"), std::string::npos);
    stick.write_file("/tmp/pw", "long enough\n");
    EXPECT_EQ(stick.run({"web", "password", "--password-file", "/tmp/pw"}), 0);
    EXPECT_EQ(stick.file(".obweb").compare(0, 16, "$6$rounds=20000$"), 0) << stick.file(".obweb");
    EXPECT_EQ(stick.file(".obweb").find("long enough"), std::string::npos);
    struct stat st;
    ASSERT_EQ(stat(stick.host_path((top + "/.obweb").c_str()).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(stick.run({"web", "password", "--off"}), 0);
    EXPECT_FALSE(stick.has(".obweb"));

    const struct {
        const char* image;
        std::vector<std::string> dirs;  // what the image has
        std::vector<std::string> added;
    } rows[] = {
        {"systemd",
         {"/run/systemd/system", "/etc/systemd/system", "/etc/init.d", "/etc/rc5.d"},
         {"/etc/systemd/system/obctl-web.service",
          "/etc/systemd/system/multi-user.target.wants/obctl-web.service",
          "/etc/systemd/system/multi-user.target.wants"}},
        {"sysvinit",
         {"/etc/init.d", "/etc/rc0.d", "/etc/rc3.d", "/etc/rc5.d", "/etc/rc6.d", "/etc/rcS.d"},
         {"/etc/init.d/obctl-web", "/etc/rc3.d/S90obctl-web", "/etc/rc5.d/S90obctl-web",
          "/etc/rc0.d/K10obctl-web", "/etc/rc6.d/K10obctl-web"}},
        {"busybox",
         {"/etc/init.d", "/etc/rcS.d"},
         {"/etc/init.d/obctl-web", "/etc/rcS.d/S90obctl-web"}},
        {"unknown", {"/etc/rc.d"}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.image);
        Stick image;
        for (const std::string& dir : row.dirs)
            image.make_dir(dir);
        EXPECT_EQ(image.run({"web", "enable", "--listen", "0.0.0.0:8190"}),
                  row.added.empty() ? 1 : 0)
            << image.stderr_text;
        for (const std::string& path : row.added)
            EXPECT_TRUE(image.exists(path)) << path;
        if (row.added.empty()) {
            EXPECT_NE(image.stderr_text.find("neither by systemd nor"), std::string::npos);
            EXPECT_TRUE(image.calls_starting("symlink(").empty());
            continue;
        }
        const std::string started = image.read_file(row.added[0]);
        EXPECT_NE(started.find("/media/ob/bin/obctl serve --listen 0.0.0.0:8190"),
                  std::string::npos)
            << started;
        EXPECT_EQ(image.run({"web", "enable"}), 1) << "enabled already";
        image.write_file("/etc/rc5.d/S20other", "");
        EXPECT_EQ(image.run({"web", "disable"}), 0) << image.stderr_text;
        for (const std::string& path : row.added)
            EXPECT_FALSE(image.exists(path)) << path;
        for (const std::string& dir : row.dirs)
            EXPECT_TRUE(image.exists(dir)) << dir;
        EXPECT_TRUE(image.exists("/etc/rc5.d/S20other"));
        EXPECT_EQ(image.run({"web", "disable"}), 1) << "nothing left to remove";
    }
    Stick pc;
    pc.release = "6.1.0-13-amd64";
    pc.make_dir("/etc/init.d");
    pc.make_dir("/etc/rc3.d");
    EXPECT_EQ(pc.run({"web", "enable"}), 1);
    EXPECT_NE(pc.stderr_text.find("no box"), std::string::npos);
    EXPECT_FALSE(pc.exists("/etc/init.d/obctl-web"));
}

}  // namespace
