// The PIN lock: the digest check and the stage in front of the list, run
// through the whole menu with a scripted remote.
#include "pin_lock.h"

#include <gtest/gtest.h>
#include <linux/input.h>
#include <md5.h>

#include "boot_menu.h"
#include "menu_fixture.h"

namespace menu_test {
namespace {

const std::string short_separator = "-------------------------------\n";

// Digests of the 4-byte PIN texts used below.
const char* const md5_1234 = "81dc9bdb52d04dc20036dbd8313ed055";
const char* const md5_123_nul = "144f2214061ac1763586138e3b420071";  // "123\0"
const char* const md5_0_nuls = "9f30f3d1265389805615b2bfac36b1b6";   // "0\0\0\0"
const char* const md5_0123 = "eb62f6b9306db575c2d596b1279627a4";
const char* const md5_8_nuls = "d0166393d140ec8994feab673ca2f793";  // "8\0\0\0"

TEST(Md5, LibraryGivesTheReferenceDigestsOfRfc1321) {
    const std::pair<std::string, const char*> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : suite) {
        char hex[MD5_DIGEST_STRING_LENGTH];
        MD5Data(reinterpret_cast<const uint8_t*>(c.first.data()), c.first.size(), hex);
        EXPECT_STREQ(hex, c.second) << '"' << c.first << '"';
    }
}

TEST(Gcheck, HashesTheDecimalTextPaddedWithNulsToFourBytes) {
    EXPECT_EQ(gcheck(md5_1234, 1234), 1);
    EXPECT_EQ(gcheck(md5_1234, 4321), 0);
    EXPECT_EQ(gcheck(md5_123_nul, 123), 1);
    EXPECT_EQ(gcheck(md5_0_nuls, 0), 1);
    // Leading zeros are not part of the number.
    EXPECT_EQ(gcheck(md5_0123, 123), 0);
    // What follows the 32 digits does not count; upper case and short digests never match.
    EXPECT_EQ(gcheck((std::string(md5_1234) + "\nrest").c_str(), 1234), 1);
    EXPECT_EQ(gcheck("81DC9BDB52D04DC20036DBD8313ED055", 1234), 0);
    EXPECT_EQ(gcheck("81dc9bdb52d04dc20036dbd8313ed05", 1234), 0);
    EXPECT_EQ(gcheck("", 1234), 0);
}

class PinStageTest : public MenuTest {
protected:
    void SetUp() override {
        MenuTest::SetUp();
        image("img_a");
        selection("img_a\n");
    }
    void lock(const std::string& digest) { kernel.write_file(ob::lock_file, digest + "\n"); }
    // Types the digits of text, one every 300 ms from after_ms on, then OK.
    int64_t type(int64_t after_ms, const std::string& text, bool ok = true) {
        for (char c : text)
            press(after_ms += 300, c == '0' ? KEY_0 : static_cast<uint16_t>(KEY_1 + (c - '1')));
        if (ok) press(after_ms += 300, KEY_OK);
        return after_ms;
    }
    void run() { EXPECT_EQ(boot_menu(1280, 720), 0); }
    size_t times(const std::string& text, const std::string& part) const {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }
    // White pixels of the star at place 1..4 (baseline 715 - 150 place).
    int star_pixels(int place) const {
        const int baseline = 715 - 150 * place;
        return count(100, baseline - 60, 150, baseline + 10, white);
    }
    bool list_was_shown() const { return times(kernel.stderr_text, "continue booting 1") > 0; }
};

TEST_F(PinStageTest, RightPinShowsTheLogoAgainAndThenTheList) {
    lock(md5_1234);
    int64_t at = type(0, "1234");
    press(at + 500, KEY_EXIT);
    run();
    EXPECT_EQ(times(kernel.stdout_text, "waiting for input from remote ...\n"), 2u);
    EXPECT_EQ(kernel.stderr_text,
              "OK   - booting 1 img_a\nEXIT - continue booting 1 img_a\n" + short_separator);
    EXPECT_GT(label_pixels(1, green), 0);
}

TEST_F(PinStageTest, LeadingZeroIsDroppedFromTheNumber) {
    lock(md5_123_nul);
    int64_t at = type(0, "0123");
    press(at + 500, KEY_EXIT);
    run();
    EXPECT_TRUE(list_was_shown());
    EXPECT_EQ(times(kernel.stderr_text, "PIN wrong"), 0u);
}

TEST_F(PinStageTest, FifthDigitStartsANewEntry) {
    lock(md5_8_nuls);
    auto& probe = kernel.add_device("/dev/input/event7", std::make_unique<Probe>());
    bool saved = false;
    probe.on_read = [&](int64_t now) {
        if (now - start_ms == 1500 && !saved) {  // four digits typed, the fifth pressed
            save_screen("pin_field");
            saved = true;
            const int first = star_pixels(1);
            EXPECT_GT(first, 0);
            for (int place = 2; place <= 4; ++place)
                EXPECT_EQ(star_pixels(place), first) << "place " << place;
        }
    };
    int64_t at = type(0, "12348");
    press(at + 500, KEY_EXIT);
    run();
    EXPECT_TRUE(saved);
    EXPECT_TRUE(list_was_shown());
}

TEST_F(PinStageTest, OkWithoutDigitsChecksZero) {
    lock(md5_0_nuls);
    press(300, KEY_OK);
    press(900, KEY_EXIT);
    run();
    EXPECT_TRUE(list_was_shown());
}

TEST_F(PinStageTest, ThreeWrongPinsBootFlash) {
    lock(md5_1234);
    put_picture("/boot/bootlogo.jpg");
    int64_t at = type(0, "1111");
    at = type(at + 1500, "2222");
    type(at + 1500, "3333");
    run();
    EXPECT_EQ(kernel.stderr_text,
              "PIN wrong - continue trying\nPIN wrong - continue trying\n"
              "PIN 3 times wrong - continue booting Flash\n" +
                  short_separator);
    EXPECT_EQ(selection(), "Flash\n");
    EXPECT_EQ(remote->closes, 1);
    // The flash image's picture replaced the red field.
    EXPECT_EQ(count(85, 620, 180, 665, red), 0);
}

TEST_F(PinStageTest, ExitLeavesWithTheStoredChoiceAndARedField) {
    lock(md5_1234);
    type(0, "12", false);
    press(1000, KEY_EXIT);
    run();
    EXPECT_EQ(kernel.stderr_text, "EXIT without PIN - continue booting\n" + short_separator);
    EXPECT_EQ(selection(), "img_a\n");
    EXPECT_EQ(remote->closes, 1);
    EXPECT_GT(count(85, 620, 180, 665, red), 0);
    EXPECT_EQ(kernel.now_ms - start_ms, 2000);
}

TEST_F(PinStageTest, TimeoutLeavesWithoutRedFieldAndEveryKeyRenewsIt) {
    lock(md5_1234);
    press(5000, KEY_UP);  // ignored by the stage, but activity
    run();
    EXPECT_EQ(kernel.stderr_text, "EXIT without PIN - continue booting\n" + short_separator);
    EXPECT_EQ(selection(), "img_a\n");
    EXPECT_EQ(kernel.now_ms - start_ms, 15000);
    EXPECT_EQ(count(85, 620, 180, 665, red), 0);
    EXPECT_GT(count(85, 620, 180, 665, white), 0);
}

}  // namespace
}  // namespace menu_test
