// The boot menu as the user meets it: the list, the preselection, the keys,
// the two ways out, the time-out bar and the boot picture, run against a
// scripted remote and a virtual clock.
#include "boot_menu.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "image_list.h"
#include "screen_fixture.h"

namespace {

using namespace orbiel;
using ob_test::rgba;

const std::string separator = "--------------------------------------------\n";
const std::string short_separator = "-------------------------------\n";

class BootMenuTest : public ob_test::MenuTest {
protected:
    void run() { EXPECT_EQ(boot_menu(1280, 720), 0); }
    bool logged(const std::string& text) const {
        return kernel.stdout_text.find(text) != std::string::npos;
    }
    void three_images() {
        for (const char* name : {"img_b", "img_a", "img_c"})
            image(name);
    }
};

// ---- The list ----

TEST_F(BootMenuTest, ListsImagesWithInfoSortedWithDigitDescriptionsAndLogsTheSettings) {
    image("1", "OpenXYZ 6.1\n");
    image("img2", "anything");
    kernel.make_dir(std::string(ob::images_dir) + "/img3");  // no info file
    image(".hidden");
    image("9");
    image("12");
    press(0, KEY_EXIT);
    run();
    EXPECT_EQ(kernel.stdout_text, "0: Flash\n1: 1 (OpenXYZ)\n2: 12\n3: 9\n4: img2\n" + separator +
                                      "from: 4 images boot: 0 named: Flash\n" + separator +
                                      "Menu timeout 10 sec\nPicture Bootlogo is used\n"
                                      "Framebuffer resolution 1280 x 720\n" +
                                      separator + "waiting for input from remote ...\n" +
                                      separator);
}

TEST_F(BootMenuTest, TwelveImagesAtMostWithColourKeysAndDotsForTheLastThree) {
    image("1", std::string(100, 'D'));
    image(std::string(70, 'a'));  // too long a name: left out, not cut into another's
    for (int i = 1; i <= 11; ++i)
        image("img" + std::to_string(100 + i));
    kernel.write_file(ob::progress_file, "");
    auto& probe = kernel.add_device("/dev/input/event7", std::make_unique<ob_test::Probe>());
    std::set<std::string> saved;  // the menu as it comes up, then with entry 12 chosen
    probe.on_read = [&](int64_t now) {
        const std::string name = now - start_ms == 500 ? "menu" : "menu_highlight";
        if ((now - start_ms == 500 || now - start_ms == 2500) && saved.insert(name).second)
            save_screen(name);
    };
    press(500, KEY_RED);
    press(1000, KEY_GREEN);
    press(1500, KEY_YELLOW);
    press(2500, KEY_9);
    press(3000, KEY_EXIT);
    run();
    save_screen("menu_after_exit");
    EXPECT_EQ(saved.size(), 2u);
    EXPECT_EQ(image_count, 12);
    EXPECT_TRUE(logged("1: 1 (" + std::string(59, 'D') + ")\n2: img101\n"));  // 63 characters
    EXPECT_TRUE(logged("12: img111\n" + separator + "from: 12 images"));
    const std::string keys_log =
        "RED = 10 - selected 10 img109\nGREEN = 11 - selected 11 img110\n"
        "YELLOW = 12 - selected 12 img111\n9 - selected 9 img108\n";
    EXPECT_NE(kernel.stderr_text.find("not listed\n" + keys_log), std::string::npos);
    for (int k = 10; k <= 12; ++k)
        EXPECT_EQ(pixel(140, 96 + 46 * k), rgba(std::vector<color>{red, green, yellow}[k - 10]));
    image("img112");  // a thirteenth is not taken
    press(elapsed_ms(), KEY_EXIT);
    run();
    EXPECT_EQ(image_count, 12);
}

TEST_F(BootMenuTest, WithoutImagesOnlyFlashIsListedAndTheTimeoutFileIsClamped) {
    kernel.write_file(ob::stale_boot_file, "x");
    ASSERT_EQ(kernel.rmdir(ob::images_dir), 0);
    const std::pair<std::string, int> cases[] = {
        {"1", 2}, {"45", 30}, {"abc", 2}, {"15\n", 15}, {" 7 x", 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        kernel.write_file(ob::timeout_file, c.first);
        kernel.stdout_text.clear();
        press(elapsed_ms(), KEY_OK);
        run();
        EXPECT_TRUE(logged("0: Flash\n" + separator + "from: 0 images boot: 0"));
        EXPECT_TRUE(logged("Menu timeout " + std::to_string(c.second) + " sec\n"));
    }
    EXPECT_FALSE(kernel.exists(ob::stale_boot_file));
    EXPECT_FALSE(kernel.exists(ob::selection_file));  // OK never creates it
}

// ---- Preselection and the ways out ----

TEST_F(BootMenuTest, SelectionFilePreselectsByNameAndTheTimeOutKeepsIt) {
    image("1", "OpenXYZ 6.1\n");
    image("img2");
    // A carriage return stays in the name, so "1\r\n" preselects nothing.
    for (const std::string stored : {"1\n", "1\r\n"}) {
        SCOPED_TRACE(stored);
        const int k = stored == "1\n" ? 1 : 0;
        selection(stored);
        kernel.stdout_text.clear();
        const int64_t begin = elapsed_ms();
        press(begin + 1000, KEY_UP);  // keys renew the time-out
        press(begin + 1500, KEY_DOWN);
        run();
        EXPECT_TRUE(logged("boot: " + std::to_string(k) + " named: " + stored));
        EXPECT_EQ(selection(), stored);
        EXPECT_EQ(elapsed_ms() - begin, 1500 + 10000 + 1000);  // then a second in green
        EXPECT_GT(label_pixels(k, green), 0);
        EXPECT_EQ(label_pixels(k, yellow), 0);
        EXPECT_GT(mark_pixels(k, green), 0);
    }
    EXPECT_NE(kernel.stderr_text.find("OK   - booting 1 1 (OpenXYZ)\nEXIT - continue booting 1 1 "
                                      "(OpenXYZ)\n" +
                                      short_separator + "UP"),
              std::string::npos);
    EXPECT_NE(kernel.stderr_text.find("EXIT - continue booting 0 Flash\n"), std::string::npos);
}

TEST_F(BootMenuTest, ArrowsWrapAroundDigitsSelectByPositionAndExitKeepsTheChoice) {
    three_images();
    selection("Flash\n");
    const uint16_t keys[] = {KEY_DOWN, KEY_UP, KEY_UP, KEY_DOWN, KEY_RIGHT, KEY_LEFT,
                             KEY_3,    KEY_0,  KEY_5,  KEY_RED,  KEY_2,     KEY_EXIT};
    int64_t at = 0;
    for (uint16_t code : keys)
        press(at += 500, code);
    run();
    EXPECT_EQ(kernel.stderr_text,
              "DOWN - selected 1 img_a\nUP   - selected 0 Flash\n"
              "UP   - selected 3 img_c\nDOWN - selected 0 Flash\n"
              "RIGHT - selected 3 img_c\nLEFT - selected 0 Flash\n"
              "3 - selected 3 img_c\n0 - selected 0 Flash\n"
              "2 - selected 2 img_b\n"  // 5 and RED have no entry
              "OK   - booting 0 Flash\nEXIT - continue booting 0 Flash\n" +
                  short_separator);
    EXPECT_EQ(selection(), "Flash\n");
    EXPECT_GT(label_pixels(2, white), 0);  // the highlight went back to the stored choice
    EXPECT_EQ(label_pixels(2, yellow), 0);
    EXPECT_GT(label_pixels(0, green), 0);
}

TEST_F(BootMenuTest, OkOnAnotherEntryWritesItsNameOnly) {
    for (bool foreign_manager : {false, true}) {
        SCOPED_TRACE(foreign_manager);
        image("3", "OpenImage 4.2");
        image("img_x");
        selection("img_x\n");
        if (foreign_manager) kernel.write_file(ob::foreign_manager_file, "");
        kernel.stderr_text.clear();
        press(elapsed_ms() + 300, KEY_1);
        press(elapsed_ms() + 600, KEY_OK);
        run();
        EXPECT_EQ(
            kernel.stderr_text,
            "1 - selected 1 3 (OpenImage)\nOK   - booting 1 3 (OpenImage)\n" + short_separator);
        EXPECT_EQ(selection(), "3\n");
        EXPECT_GT(label_pixels(1, green), 0);
        EXPECT_EQ(label_pixels(2, yellow), 0);
        // Under another boot manager a changed choice is marked in white.
        EXPECT_GT(mark_pixels(1, foreign_manager ? white : green), 0);
        EXPECT_EQ(mark_pixels(1, foreign_manager ? green : white), 0);
    }
}

TEST_F(BootMenuTest, StoredNameMatchingNoEntryPreselectsFlashAndOkOnFlashWritesFlash) {
    image("img2");
    image("img3");
    kernel.make_dir(std::string(ob::images_dir) + "/img13");  // no .obinfo: not listed
    const struct {
        std::string stored;
        int key;  // 0: wait for the time-out
        std::string after;
    } rows[] = {
        {"img2\r\n", KEY_OK, "Flash\n"},  // obinit would boot img2 after all
        {"img13\n", KEY_ENTER, "Flash\n"}, {"img2\r\n", KEY_EXIT, "img2\r\n"},
        {"img13\n", KEY_ESC, "img13\n"},   {"img13\n", 0, "img13\n"},
        {"Flash\n", KEY_OK, "Flash\n"},  // already stored: nothing written
        {"img3\n", KEY_ENTER, "img3\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored + " " + std::to_string(row.key));
        selection(row.stored);
        kernel.stdout_text.clear();
        kernel.stderr_text.clear();
        kernel.calls.clear();
        if (row.key != 0) press(elapsed_ms() + 300, static_cast<uint16_t>(row.key));
        run();
        const bool preselected_flash = row.stored != "img3\n";
        EXPECT_TRUE(logged(preselected_flash ? "boot: 0 named: " : "boot: 2 named: "));
        EXPECT_EQ(
            kernel.stderr_text.rfind(
                preselected_flash ? "OK   - booting 0 Flash\n" : "OK   - booting 2 img3\n", 0),
            0u);
        EXPECT_EQ(selection(), row.after);
        EXPECT_EQ(kernel.calls_starting("rename(").size(), row.after != row.stored ? 1u : 0u);
    }
}

TEST_F(BootMenuTest, NamesThatCannotBeWrittenBackAreLeftOutWithTheReason) {
    for (const char* name : {"my img", "tab\timg", "cr\rimg", "lf\nimg", "img_ok"})
        image(name);
    press(300, KEY_EXIT);
    run();
    EXPECT_EQ(image_count, 1);
    EXPECT_TRUE(logged("0: Flash\n1: img_ok\n" + separator));
    for (const char* shown : {"my img", "tab\\timg", "cr\\rimg", "lf\\nimg"})
        EXPECT_NE(kernel.stderr_text.find(std::string("/media/ob/ob/") + shown +
                                          ": image name holds a blank, tab or line end, not "
                                          "listed\n"),
                  std::string::npos)
            << shown;
}

// The new name goes to a temporary that reaches the disk before it replaces
// the file, so a power cut leaves the old or the new name, never a part.
TEST_F(BootMenuTest, OkReplacesTheSelectionFileThroughATemporaryThatReachesTheDiskFirst) {
    const std::string temporary = "/media/ob/obboot.ini.obnew";
    image("img_a");
    selection("Flash\n");
    kernel.make_fifo(temporary);  // left by a cut; a FIFO would hold a blocking open
    press(300, KEY_1);
    press(600, KEY_OK);
    run();
    EXPECT_EQ(selection(), "img_a\n");
    EXPECT_FALSE(kernel.exists(temporary));
    const std::vector<std::string> durable = {
        "fsync(\"" + temporary + "\")",
        "rename(\"" + temporary + "\", \"" + ob::selection_file + "\")", "sync()"};
    std::vector<std::string> seen;
    for (const std::string& call : kernel.calls)
        if (std::find(durable.begin(), durable.end(), call) != durable.end()) seen.push_back(call);
    EXPECT_EQ(seen, durable);
    // Cut before the rename: the old name stays, and no temporary.
    for (const char* failing : {"fsync(", "rename("}) {
        SCOPED_TRACE(failing);
        selection("img_a\n");
        kernel.fail(failing, EIO, 1);
        press(elapsed_ms() + 300, KEY_0);
        press(elapsed_ms() + 600, KEY_OK);
        run();
        EXPECT_EQ(selection(), "img_a\n");
        EXPECT_FALSE(kernel.exists(temporary));
        EXPECT_NE(kernel.stderr_text.find(ob_test::error_line(ob::selection_file, EIO)),
                  std::string::npos);
    }
    // A stale temporary from an earlier cut goes at the start, whatever the choice.
    kernel.write_file(temporary, "img");
    press(elapsed_ms() + 300, KEY_EXIT);
    run();
    EXPECT_FALSE(kernel.exists(temporary));
    // A full medium has no block for the temporary: the file's own takes the
    // name, and the log says so.
    selection("a_much_longer_name\n");
    kernel.fail_open(temporary, ENOSPC);
    press(elapsed_ms() + 300, KEY_1);
    press(elapsed_ms() + 600, KEY_OK);
    run();
    EXPECT_EQ(selection(), "img_a\n");
    EXPECT_NE(kernel.stderr_text.find(ob_test::error_line(ob::selection_file, ENOSPC) +
                                      ob::selection_file +
                                      ": no room for a temporary, rewritten in place\n"),
              std::string::npos);
}

// A linked selection file is written where it points, keeping the link and
// the file's mode.
TEST_F(BootMenuTest, OkWritesThroughALinkedSelectionFile) {
    image("img_a");
    kernel.write_file("/media/ob/settings/boot.ini", "Flash\n", 0600);
    kernel.make_symlink("settings/boot.ini", ob::selection_file);
    press(300, KEY_1);
    press(600, KEY_OK);
    run();
    EXPECT_EQ(kernel.read_file("/media/ob/settings/boot.ini"), "img_a\n");
    struct stat st;
    ASSERT_EQ(kernel.lstat(ob::selection_file, &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(kernel.stat(ob::selection_file, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// Nothing on the medium is opened in a way that waits: FIFOs under the names
// of the files the menu reads count as missing, and the menu runs to its end.
TEST_F(BootMenuTest, FifosUnderTheMediumsFileNamesCountAsMissing) {
    image("img_a");
    kernel.make_fifo("/media/ob/ob/1/.obinfo");
    for (const char* name : {ob::selection_file, ob::timeout_file, ob::progress_file, ob::lock_file,
                             ob::foreign_manager_file})
        kernel.make_fifo(name);
    kernel.make_fifo("/media/ob/ob/img_a/usr/share/bootlogo.mvi");
    kernel.make_fifo("/media/ob/ob/img_a/boot/bootlogo-dm900.jpg");
    put_picture("/media/ob/ob/img_a/boot/bootlogo.jpg");
    press(300, KEY_1);
    press(600, KEY_OK);
    run();
    EXPECT_TRUE(
        logged("0: Flash\n1: img_a\n" + separator + "from: 1 images boot: 0 named: Flash\n"));
    EXPECT_TRUE(logged("Menu timeout 10 sec\nPicture"));  // no bar
    EXPECT_EQ(kernel.stderr_text,
              "1 - selected 1 img_a\nOK   - booting 1 img_a\n" + short_separator);
    EXPECT_EQ(kernel.calls_starting("fork()").size(), 0u);
    EXPECT_EQ(count(0, 0, 180, 719, barcolor), 0);  // the plain boot picture covers the menu
    struct stat st;
    ASSERT_EQ(kernel.lstat(ob::selection_file, &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));  // not replaced by a file
}

// The time-out is renewed only by key events: a device that keeps sending
// other events does not hold the menu, and one that keeps sending keys (a
// stuck key, a mouse button, codes the menu ignores) holds it for ten minutes
// at most.
TEST_F(BootMenuTest, OnlyKeyEventsRenewTheTimeOutAndNoStageLastsBeyondTenMinutes) {
    const struct {
        const char* what;
        uint16_t type, code;
        int32_t value;
        int64_t ends_ms;
    } rows[] = {
        {"mouse movement", EV_REL, REL_X, 3, 11000},
        {"touch position", EV_ABS, ABS_X, 100, 11000},
        {"scan codes", EV_MSC, MSC_SCAN, 0x1234, 11000},
        {"synchronisation", EV_SYN, SYN_REPORT, 0, 11000},
        {"a stuck key", EV_KEY, KEY_UP, 2, 10 * 60 * 1000 + 1000},
        {"a mouse button", EV_KEY, BTN_LEFT, 0, 10 * 60 * 1000 + 1000},
        {"an unknown code", EV_KEY, KEY_MENU, 0, 10 * 60 * 1000 + 1000},
        {"a chattering remote", EV_KEY, KEY_5, 0, 10 * 60 * 1000 + 1000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        // A fresh device each row: what is still queued is not for the next.
        auto& chatter =
            kernel.add_device("/dev/input/event6", std::make_unique<ob_test::FakeInputDevice>());
        const int64_t begin = elapsed_ms();
        for (int64_t t = 0; t < 15 * 60 * 1000; t += 2000)
            chatter.event(start_ms + begin + t, row.type, row.code, row.value);
        run();
        EXPECT_EQ(elapsed_ms() - begin, row.ends_ms);
        EXPECT_EQ(selection(), "");
    }
}

// A key pressed just before the time-out renews it, so its release still acts.
TEST_F(BootMenuTest, AKeyPressedJustBeforeTheTimeOutStillActs) {
    image("img_a");
    selection("Flash\n");
    press(300, KEY_1);
    remote->event(start_ms + 300 + 9990, EV_KEY, KEY_OK, 1);
    remote->event(start_ms + 300 + 10400, EV_KEY, KEY_OK, 0);
    run();
    EXPECT_EQ(selection(), "img_a\n");
}

// ---- The time-out bar ----

TEST_F(BootMenuTest, BarIsFullAtTheStartAndYellowFromThreeSecondsOn) {
    kernel.write_file(ob::progress_file, "");
    auto& probe = kernel.add_device("/dev/input/event7", std::make_unique<ob_test::Probe>());
    std::vector<std::vector<int>> bars;  // white, yellow and empty rows, once a pass
    probe.on_read = [&](int64_t) {
        bars.push_back({count(50, 69, 50, 669, white), count(50, 69, 50, 669, yellow),
                        count(50, 69, 50, 669, barcolor)});
    };
    run();
    EXPECT_TRUE(logged("Progress timeout is shown\n"));
    EXPECT_EQ(count(40, 69, 60, 669, barcolor), 21 * 601);  // erased at the end
    // One pass a second, each seeing what the pass before drew: 10 s left
    // show the full bar, 4 s 40 per cent in white, 3 s 30 per cent in yellow.
    ASSERT_EQ(bars.size(), 11u);
    EXPECT_EQ(bars[1], (std::vector<int>{601, 0, 0}));
    EXPECT_EQ(bars[7], (std::vector<int>{241, 0, 360}));
    EXPECT_EQ(bars[8], (std::vector<int>{0, 181, 420}));
    EXPECT_EQ(bars[10], (std::vector<int>{0, 61, 540}));
}

TEST_F(BootMenuTest, WithoutAnyInputDeviceTheMenuTimesOut) {
    kernel.fail_open("/dev/input/event0", ENOENT);
    run();
    EXPECT_EQ(elapsed_ms(), 11000);
    EXPECT_NE(kernel.stderr_text.find("EXIT - continue booting 0 Flash\n"), std::string::npos);
}

// ---- Boot picture and preview ----

TEST_F(BootMenuTest, BootPictureOfTheChosenImageGoesToDecoderAndScreen) {
    struct VideoDecoder : ob_test::FakeDevice {
        int ioctl(unsigned long, void*) override { return 0; }
    };
    image("img_a");
    kernel.write_file("/media/ob/ob/img_a/usr/share/bootlogo.mvi", std::string("\0\0\1\xb3", 4));
    put_picture("/media/ob/ob/img_a/boot/bootlogo-dm900.jpg");
    kernel.add_device("/dev/dvb/adapter0/video0", std::make_unique<VideoDecoder>());
    press(300, KEY_1);
    press(600, KEY_OK);
    run();
    EXPECT_EQ(kernel.calls_starting("fork()").size(), 1u);
    EXPECT_EQ(label_pixels(1, green), 0);  // the JPEG covers the menu
    EXPECT_EQ(count(0, 0, 180, 719, barcolor), 0);
}

TEST_F(BootMenuTest, FlashBootsWithTheFlashRootsOwnPictures) {
    struct VideoDecoder : ob_test::FakeDevice {
        int ioctl(unsigned long, void*) override { return 0; }
    };
    image("img_a");
    selection("img_a\n");
    kernel.add_device("/dev/dvb/adapter0/video0", std::make_unique<VideoDecoder>());
    kernel.write_file("/usr/share/bootlogo.mvi", std::string("\0\0\1\xb3", 4));
    // The image's own pictures are not the flash image's.
    put_picture("/media/ob/ob/img_a/boot/bootlogo.jpg", 1920, 1080);
    const struct {
        const char* model_picture;  // nullptr: only the plain one
        bool plain_picture;
        unsigned shown_width;  // 1280: the menu's screen, no picture
    } rows[] = {
        {"/boot/bootlogo-dm900.jpg", true, 1366}, {nullptr, true, 1400}, {nullptr, false, 1280}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shown_width);
        kernel.unlink("/boot/bootlogo-dm900.jpg");
        kernel.unlink("/boot/bootlogo.jpg");
        if (row.model_picture != nullptr) put_picture(row.model_picture, 1366, 768);
        if (row.plain_picture) put_picture("/boot/bootlogo.jpg", 1400, 800);
        kernel.calls.clear();
        press(elapsed_ms() + 300, KEY_0);
        press(elapsed_ms() + 600, KEY_OK);
        run();
        EXPECT_EQ(selection(), "Flash\n");
        EXPECT_EQ(kernel.calls_starting("fork()").size(), 1u);  // the flash root's still
        EXPECT_EQ(screen->xres(), row.shown_width);
        selection("img_a\n");
    }
}

TEST_F(BootMenuTest, PreviewDrawsTheWholeScreenWithoutReadingKeys) {
    three_images();
    selection("img_a\n");
    logo_arg = extra_arg = 1;
    snprintf(bootpicture, sizeof bootpicture, "%s", ob::default_logo);
    snprintf(picturearg, sizeof picturearg, "%s", "orbiel.jpg");
    snprintf(fontarg, sizeof fontarg, "%s", "orbiel.ttf");
    press(0, KEY_OK);
    run();
    EXPECT_EQ(remote->opens, 0);
    EXPECT_EQ(kernel.stderr_text, "");
    EXPECT_EQ(selection(), "img_a\n");
    EXPECT_TRUE(logged("finished viewing only\n" + separator));
    EXPECT_EQ(count(40, 69, 60, 669, white), 21 * 601);
    EXPECT_GT(count(780, 560, 1180, 660, yellow), 0);
    EXPECT_GT(label_pixels(1, yellow), 0);
    save_screen("menu_preview");
}

TEST_F(BootMenuTest, WithoutAnyPictureTextLeftOfTheScreenIsClipped) {
    // No logo: w and h stay 0, so the credit text and the preview names
    // start left of the screen.
    ASSERT_EQ(kernel.unlink(ob::default_logo), 0);
    image("img_a");
    logo_arg = extra_arg = 1;
    snprintf(bootpicture, sizeof bootpicture, "%s", ob::default_logo);
    snprintf(picturearg, sizeof picturearg, "%s", std::string(59, 'W').c_str());
    run();
    EXPECT_EQ(kernel.stderr_text, "open /media/ob/logos/orbiel.jpg failed\n");
    EXPECT_GT(label_pixels(1, white), 0);
    EXPECT_EQ(count(0, 560, 200, 660, yellow), 0);
}

}  // namespace
