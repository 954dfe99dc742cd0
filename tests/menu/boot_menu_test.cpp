// The boot menu as the user meets it: the list, the preselection, every key,
// the two ways out, the time-out bar and the boot picture, run against a
// scripted remote and a virtual clock.
#include "boot_menu.h"

#include <gtest/gtest.h>
#include <linux/input.h>

#include "image_list.h"
#include "menu_fixture.h"

namespace menu_test {
namespace {

const std::string separator = "--------------------------------------------\n";
const std::string short_separator = "-------------------------------\n";

class BootMenuTest : public MenuTest {
protected:
    void run() { EXPECT_EQ(boot_menu(1280, 720), 0); }
    // Three plain images: img_a, img_b, img_c.
    void three_images() {
        image("img_b");
        image("img_a");
        image("img_c");
    }
    int64_t elapsed_ms() const { return kernel.now_ms - start_ms; }
};

// ---- The list ----

TEST_F(BootMenuTest, ListsImagesWithInfoSortedWithDigitDescriptionsAndLogsTheSettings) {
    image("1", "OpenXYZ 6.1\n");
    image("img2", "anything");
    image_without_info("img3");
    image(".hidden");
    image("9");
    image("12");
    press(0, KEY_EXIT);
    run();
    const std::string expected_log =
        "0: Flash\n1: 1 (OpenXYZ)\n2: 12\n3: 9\n4: img2\n" + separator +
        "from: 4 images boot: 0 named: Flash\n" + separator + "Menu timeout 10 sec\n" +
        "Picture Bootlogo is used\n" + "Framebuffer resolution 1280 x 720\n" + separator +
        "waiting for input from remote ...\n" + separator;
    EXPECT_EQ(kernel.stdout_text, expected_log);
    EXPECT_EQ(image_count, 4);
}

TEST_F(BootMenuTest, TakesAtMostTwelveImages) {
    for (int i = 1; i <= 13; ++i)
        image("img" + std::to_string(100 + i));
    press(0, KEY_EXIT);
    run();
    EXPECT_EQ(image_count, 12);
    EXPECT_NE(kernel.stdout_text.find("from: 12 images"), std::string::npos);
}

TEST_F(BootMenuTest, LabelsKeepToAtMost63Characters) {
    image("1", std::string(100, 'D'));
    image(std::string(70, 'n'));
    press(0, KEY_EXIT);
    run();
    // A long name is not cut into the name of another directory: it is left out.
    EXPECT_EQ(kernel.stdout_text.find(std::string(70, 'n') + "\n"), std::string::npos);
    const std::string label = "1 (" + std::string(59, 'D') + ")";
    EXPECT_NE(kernel.stdout_text.find(label + "\n"), std::string::npos);
    EXPECT_EQ(label.size(), 63u);
}

TEST_F(BootMenuTest, WithoutImageDirectoryOnlyFlashIsListedAndStaleBootFileIsRemoved) {
    kernel.write_file(ob::stale_boot_file, "x");
    kernel.write_file(ob::timeout_file, "abc");
    // The medium has no image directory at all.
    ASSERT_EQ(kernel.rmdir(ob::images_dir), 0);
    press(0, KEY_DOWN);
    press(500, KEY_OK);
    run();
    EXPECT_FALSE(kernel.exists(ob::stale_boot_file));
    EXPECT_NE(kernel.stdout_text.find("0: Flash\n" + separator + "from: 0 images boot: 0"),
              std::string::npos);
    EXPECT_NE(kernel.stdout_text.find("Menu timeout 2 sec\n"), std::string::npos);
    EXPECT_EQ(kernel.stderr_text,
              "DOWN - selected 0 Flash\nOK   - booting 0 Flash\n" + short_separator);
}

TEST_F(BootMenuTest, TimeoutFileIsClampedAndEndsAtItsLineFeed) {
    const std::pair<std::string, int> cases[] = {
        {"1", 2}, {"45", 30}, {"abc", 2}, {"15\n", 15}, {" 7 x", 7}};
    for (const auto& c : cases) {
        kernel.write_file(ob::timeout_file, c.first);
        kernel.stdout_text.clear();
        press(elapsed_ms(), KEY_EXIT);
        run();
        EXPECT_NE(kernel.stdout_text.find("Menu timeout " + std::to_string(c.second) + " sec\n"),
                  std::string::npos)
            << "file: " << c.first;
    }
}

// ---- Preselection ----

TEST_F(BootMenuTest, SelectionFilePreselectsByNameAndTheMenuTimesOutOnIt) {
    image("1", "OpenXYZ 6.1\n");
    image("img2");
    selection("1\n");
    run();
    EXPECT_NE(kernel.stdout_text.find("from: 2 images boot: 1 named: 1\n"), std::string::npos);
    EXPECT_EQ(kernel.stderr_text,
              "OK   - booting 1 1 (OpenXYZ)\nEXIT - continue booting 1 1 "
              "(OpenXYZ)\n" +
                  short_separator);
    EXPECT_EQ(selection(), "1\n");
    // The wait is the full time-out, then the second the green entry stays.
    EXPECT_EQ(elapsed_ms(), 11000);
    EXPECT_GT(label_pixels(1, green), 0);
    EXPECT_EQ(label_pixels(1, yellow), 0);
    EXPECT_GT(mark_pixels(1, green), 0);
}

TEST_F(BootMenuTest, CarriageReturnStaysInTheNameSoNothingIsPreselected) {
    image("img2");
    selection("img2\r\n");
    press(0, KEY_ESC);
    run();
    EXPECT_NE(kernel.stdout_text.find("from: 1 images boot: 0 named: img2\r\n"), std::string::npos);
    EXPECT_EQ(selection(), "img2\r\n");
    EXPECT_NE(kernel.stderr_text.find("EXIT - continue booting 0 Flash\n"), std::string::npos);
}

// ---- Keys ----

TEST_F(BootMenuTest, ArrowsWrapAroundAndDigitsSelectByPosition) {
    three_images();
    const uint16_t keys[] = {KEY_DOWN, KEY_UP, KEY_UP, KEY_DOWN, KEY_RIGHT, KEY_LEFT,
                             KEY_3,    KEY_0,  KEY_5,  KEY_RED,  KEY_2,     KEY_EXIT};
    int64_t at = 0;
    for (uint16_t code : keys)
        press(at += 500, code);
    run();
    EXPECT_EQ(kernel.stderr_text,
              "DOWN - selected 1 img_a\n"
              "UP   - selected 0 Flash\n"
              "UP   - selected 3 img_c\n"
              "DOWN - selected 0 Flash\n"
              "RIGHT - selected 3 img_c\n"
              "LEFT - selected 0 Flash\n"
              "3 - selected 3 img_c\n"
              "0 - selected 0 Flash\n"
              // KEY_5 and KEY_RED have no entry with three images.
              "2 - selected 2 img_b\n"
              "OK   - booting 0 Flash\n"
              "EXIT - continue booting 0 Flash\n" +
                  short_separator);
    // EXIT takes the highlight back to the stored choice.
    EXPECT_GT(label_pixels(2, white), 0);
    EXPECT_EQ(label_pixels(2, yellow), 0);
    EXPECT_GT(label_pixels(0, green), 0);
}

TEST_F(BootMenuTest, KeyWhoseEntryIsMissingStillRenewsTheTimeout) {
    three_images();
    press(9000, KEY_5);
    run();
    EXPECT_EQ(kernel.stderr_text.find("selected"), std::string::npos);
    EXPECT_EQ(elapsed_ms(), 9000 + 10000 + 1000);
}

TEST_F(BootMenuTest, ColourKeysSelectEntriesTenToTwelveMarkedWithDots) {
    for (int i = 1; i <= 11; ++i)
        image("img" + std::to_string(10 + i));
    press(500, KEY_RED);
    press(1000, KEY_GREEN);
    press(1500, KEY_YELLOW);  // no twelfth image
    press(2000, KEY_9);
    press(2200, KEY_4);
    press(2500, KEY_EXIT);
    run();
    const std::string expected =
        "RED = 10 - selected 10 img20\nGREEN = 11 - selected 11 img21\n9 - selected 9 img19\n"
        "4 - selected 4 img14\n";
    EXPECT_EQ(kernel.stderr_text.substr(0, expected.size()), expected);
    EXPECT_EQ(pixel(140, 96 + 46 * 10), rgba(red));
    EXPECT_EQ(pixel(140, 96 + 46 * 11), rgba(green));
    EXPECT_NE(pixel(140, 96 + 46 * 12), rgba(yellow));
}

// ---- OK ----

TEST_F(BootMenuTest, OkOnThePreselectedEntryLeavesTheSelectionFileAlone) {
    three_images();
    selection("img_b\n");
    press(300, KEY_OK);
    run();
    EXPECT_EQ(kernel.stderr_text, "OK   - booting 2 img_b\n" + short_separator);
    EXPECT_EQ(selection(), "img_b\n");
    EXPECT_GT(label_pixels(2, green), 0);
    EXPECT_GT(mark_pixels(2, green), 0);
    EXPECT_EQ(mark_pixels(2, white), 0);
}

TEST_F(BootMenuTest, OkOnAnotherEntryWritesItsNameOnly) {
    image("3", "OpenImage 4.2");
    image("img_x");
    selection("img_x\n");
    press(300, KEY_1);
    press(600, KEY_OK);
    run();
    EXPECT_EQ(kernel.stderr_text,
              "1 - selected 1 3 (OpenImage)\nOK   - booting 1 3 (OpenImage)\n" + short_separator);
    EXPECT_EQ(selection(), "3\n");
    EXPECT_GT(mark_pixels(1, green), 0);
    EXPECT_GT(label_pixels(1, green), 0);
    EXPECT_EQ(label_pixels(2, yellow), 0);
}

TEST_F(BootMenuTest, ForeignManagerMarksAChangedChoiceInWhite) {
    three_images();
    selection("Flash\n");
    kernel.write_file(ob::foreign_manager_file, "");
    press(300, KEY_DOWN);
    press(600, KEY_ENTER);
    run();
    EXPECT_EQ(selection(), "img_a\n");
    EXPECT_GT(mark_pixels(1, white), 0);
    EXPECT_EQ(mark_pixels(1, green), 0);
}

TEST_F(BootMenuTest, SelectionFileIsNeverCreated) {
    three_images();
    press(300, KEY_DOWN);
    press(600, KEY_OK);
    run();
    EXPECT_FALSE(kernel.exists(ob::selection_file));
}

// ---- Leaving without a choice ----

TEST_F(BootMenuTest, TimeoutErasesTheBarAndBootsTheStoredChoiceInGreen) {
    three_images();
    selection("img_c\n");
    kernel.write_file(ob::progress_file, "");
    press(1000, KEY_UP);
    run();
    EXPECT_NE(kernel.stdout_text.find("Progress timeout is shown\n"), std::string::npos);
    EXPECT_EQ(kernel.stderr_text,
              "UP   - selected 2 img_b\nOK   - booting 3 img_c\nEXIT - "
              "continue booting 3 img_c\n" +
                  short_separator);
    EXPECT_EQ(selection(), "img_c\n");
    EXPECT_EQ(count(40, 69, 60, 669, barcolor), 21 * 601);
    EXPECT_GT(label_pixels(3, green), 0);
    EXPECT_GT(mark_pixels(3, green), 0);
    EXPECT_EQ(label_pixels(2, yellow), 0);
    EXPECT_EQ(elapsed_ms(), 1000 + 10000 + 1000);
}

TEST_F(BootMenuTest, BarIsFullAtTheStartAndYellowFromThreeSecondsOn) {
    kernel.write_file(ob::progress_file, "");
    auto& probe = kernel.add_device("/dev/input/event7", std::make_unique<Probe>());
    struct Sample {
        int64_t at;
        int white_rows, yellow_rows, empty_rows;
    };
    std::vector<Sample> samples;
    probe.on_read = [&](int64_t now) {
        Sample s{now - start_ms, 0, 0, 0};
        for (int y = 69; y <= 669; ++y) {
            s.white_rows += pixel(50, y) == rgba(white);
            s.yellow_rows += pixel(50, y) == rgba(yellow);
            s.empty_rows += pixel(50, y) == rgba(barcolor);
        }
        samples.push_back(s);
    };
    run();
    // The menu wakes once a second, not more: eleven passes for ten seconds.
    ASSERT_EQ(samples.size(), 11u);
    // Each pass sees what the pass before drew; 10 s left: the full bar.
    EXPECT_EQ(samples[1].at, 1000);
    EXPECT_EQ(samples[1].white_rows, 601);
    // 4 s left: 40 per cent, still white.
    EXPECT_EQ(samples[7].white_rows, 241);
    EXPECT_EQ(samples[7].yellow_rows, 0);
    // 3 s left: 30 per cent, yellow, the rest in the accent colour.
    EXPECT_EQ(samples[8].yellow_rows, 181);
    EXPECT_EQ(samples[8].empty_rows, 601 - 181);
    EXPECT_EQ(samples[10].yellow_rows, 61);
}

class NoRemoteTest : public BootMenuTest {
protected:
    bool with_remote() const override { return false; }
};

TEST_F(NoRemoteTest, WithoutAnyInputDeviceTheMenuTimesOut) {
    run();
    EXPECT_EQ(elapsed_ms(), 11000);
    EXPECT_NE(kernel.stderr_text.find("EXIT - continue booting 0 Flash\n"), std::string::npos);
}

// ---- Boot picture and preview ----

class VideoDecoder : public ob_test::FakeDevice {
public:
    int ioctl(unsigned long, void*) override { return 0; }
};

TEST_F(BootMenuTest, BootPictureOfTheChosenImageGoesToDecoderAndScreen) {
    image("img_a");
    kernel.write_file("/media/ob/ob/img_a/usr/share/bootlogo.mvi", std::string("\0\0\1\xb3", 4));
    put_picture("/media/ob/ob/img_a/boot/bootlogo-dm900.jpg");
    kernel.add_device("/dev/dvb/adapter0/video0", std::make_unique<VideoDecoder>());
    press(300, KEY_1);
    press(600, KEY_OK);
    run();
    EXPECT_EQ(kernel.calls_starting("fork()").size(), 1u);
    // The JPEG covers the menu.
    EXPECT_EQ(label_pixels(1, green), 0);
    EXPECT_EQ(count(0, 0, 180, 719, barcolor), 0);
}

TEST_F(BootMenuTest, FlashBootPictureComesFromTheFlashRoot) {
    put_picture("/boot/bootlogo.jpg");
    press(300, KEY_OK);
    run();
    EXPECT_EQ(kernel.stderr_text.find("video0"), std::string::npos);
    EXPECT_EQ(label_pixels(0, green), 0);
}

TEST_F(BootMenuTest, PreviewDrawsTheWholeScreenWithoutReadingKeys) {
    three_images();
    selection("img_a\n");
    logo_arg = 1;
    extra_arg = 1;
    snprintf(bootpicture, sizeof bootpicture, "%s", ob::default_logo);
    snprintf(picturearg, sizeof picturearg, "%s", "orbiel.jpg");
    snprintf(fontarg, sizeof fontarg, "%s", "orbiel.ttf");
    press(0, KEY_OK);
    run();
    EXPECT_EQ(remote->opens, 0);
    EXPECT_EQ(kernel.stderr_text, "");
    EXPECT_EQ(selection(), "img_a\n");
    const std::string tail = "finished viewing only\n" + separator;
    ASSERT_GE(kernel.stdout_text.size(), tail.size());
    EXPECT_EQ(kernel.stdout_text.substr(kernel.stdout_text.size() - tail.size()), tail);
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

// ---- Screens for review ----

TEST_F(BootMenuTest, ScreensForReview) {
    image("1", "OpenXYZ 6.1");
    image("img2");
    for (int i = 0; i < 10; ++i)
        image("zz" + std::to_string(i));
    selection("img2\n");
    kernel.write_file(ob::progress_file, "");
    auto& probe = kernel.add_device("/dev/input/event7", std::make_unique<Probe>());
    probe.on_read = [&](int64_t now) {
        if (now - start_ms == 1000) save_screen("menu");
        if (now - start_ms == 4000) save_screen("menu_highlight");
    };
    press(2500, KEY_DOWN);
    press(3000, KEY_DOWN);
    press(6000, KEY_EXIT);
    run();
    save_screen("menu_after_exit");
    EXPECT_GT(label_pixels(2, green), 0);
    EXPECT_GT(count(128, 86 + 46 * 12, 150, 106 + 46 * 12, yellow), 0);
}

}  // namespace
}  // namespace menu_test
