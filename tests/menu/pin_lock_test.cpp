// The PIN lock: the digest check and the stage in front of the list, run
// through the whole menu with a scripted remote.
#include "pin_lock.h"

#include "boot_menu.h"
#include "screen_fixture.h"

namespace {

using namespace orbiel;

const std::string short_separator = "-------------------------------\n";

// Digests of the 4-byte PIN texts used below.
const char* const md5_1234 = "81dc9bdb52d04dc20036dbd8313ed055";
const char* const md5_123_nul = "144f2214061ac1763586138e3b420071";  // "123\0"
const char* const md5_0_nuls = "9f30f3d1265389805615b2bfac36b1b6";   // "0\0\0\0"
const char* const md5_0123 = "eb62f6b9306db575c2d596b1279627a4";
const char* const md5_8_nuls = "d0166393d140ec8994feab673ca2f793";  // "8\0\0\0"

TEST(Gcheck, HashesTheDecimalTextPaddedWithNulsToFourBytes) {
    const std::string with_rest = std::string(md5_1234) + "\nrest";  // only 32 digits count
    EXPECT_EQ(gcheck(with_rest.c_str(), 1234), 1);
    EXPECT_EQ(gcheck(md5_1234, 4321), 0);
    EXPECT_EQ(gcheck(md5_0123, 123), 0);  // leading zeros are not part of the number
    for (const char* digest :
         {"81DC9BDB52D04DC20036DBD8313ED055", "81dc9bdb52d04dc20036dbd8313ed05", ""})
        EXPECT_EQ(gcheck(digest, 1234), 0) << digest;
}

class PinStageTest : public ob_test::MenuTest {
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
    int red_field() const { return count(85, 620, 180, 665, red); }
};

struct RightPin {
    const char* digest;
    const char* typed;
};
void PrintTo(const RightPin& pin, std::ostream* out) { *out << '"' << pin.typed << '"'; }

class RightPinTest : public PinStageTest, public ::testing::WithParamInterface<RightPin> {};

// The list follows a right PIN: after a leading zero (not part of the
// number), a fifth digit (which starts a new entry) or OK alone (zero).
TEST_P(RightPinTest, ShowsTheLogoAgainAndThenTheList) {
    lock(GetParam().digest);
    auto& probe = kernel.add_device("/dev/input/event7", std::make_unique<ob_test::Probe>());
    probe.on_read = [&](int64_t now) {  // four stars typed, the fifth digit pressed
        if (now - start_ms == 1500 && std::string(GetParam().typed) == "12348")
            save_screen("pin_field");
    };
    press(type(0, GetParam().typed) + 500, KEY_EXIT);
    run();
    const std::string& out = kernel.stdout_text;
    const std::string waiting = "waiting for input from remote ...\n";
    EXPECT_NE(out.find(waiting, out.find(waiting) + 1), std::string::npos);
    EXPECT_EQ(kernel.stderr_text,
              "OK   - booting 1 img_a\nEXIT - continue booting 1 img_a\n" + short_separator);
    EXPECT_GT(label_pixels(1, green), 0);
}

INSTANTIATE_TEST_SUITE_P(Pins, RightPinTest,
                         ::testing::Values(RightPin{md5_1234, "1234"},
                                           RightPin{md5_123_nul, "0123"},
                                           RightPin{md5_8_nuls, "12348"}, RightPin{md5_0_nuls, ""}),
                         [](const auto& info) { return "typed_" + std::string(info.param.typed); });

// Three wrong PINs store Flash, also on a medium too full for a temporary;
// where Flash cannot be stored at all, the log names what boots instead.
TEST_F(PinStageTest, ThreeWrongPinsBootFlash) {
    const struct {
        int temporary_error, file_error;
        const char* after;
        const char* message;
    } rows[] = {
        {0, 0, "Flash\n", "PIN 3 times wrong - continue booting Flash\n"},
        {ENOSPC, 0, "Flash\n", "PIN 3 times wrong - continue booting Flash\n"},
        {EROFS, EROFS, "img_a\n", "PIN 3 times wrong - Flash not stored, continue booting img_a\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.message);
        ob_test::FakeKernel& k = kernel;
        lock(md5_1234);
        selection("img_a\n");
        if (row.temporary_error) k.fail_open("/media/ob/obboot.ini.obnew", row.temporary_error);
        if (row.file_error) k.fail_open_for_writing(ob::selection_file, row.file_error);
        put_picture("/boot/bootlogo.jpg");
        k.stderr_text.clear();
        const int64_t begin = elapsed_ms();
        type(type(type(begin, "1111") + 1500, "2222") + 1500, "3333");
        run();
        const size_t wrong = k.stderr_text.find("PIN wrong - continue trying\nPIN wrong");
        ASSERT_NE(wrong, std::string::npos);
        EXPECT_EQ(k.stderr_text.substr(k.stderr_text.size() - strlen(row.message) -
                                       short_separator.size()),
                  row.message + short_separator);
        EXPECT_EQ(selection(), row.after);
        EXPECT_EQ(red_field(), 0);  // the flash image's picture replaced it
    }
    EXPECT_EQ(remote->closes, 3);
}

TEST_F(PinStageTest, ExitAndTimeOutLeaveWithTheStoredChoice) {
    for (bool exit_key : {true, false}) {
        SCOPED_TRACE(exit_key);
        lock(md5_1234);
        kernel.stderr_text.clear();
        const int64_t begin = elapsed_ms();
        if (exit_key) {
            type(begin, "12", false);
            press(begin + 1000, KEY_EXIT);
        } else {
            press(begin + 5000, KEY_UP);  // ignored by the stage, but it renews the time-out
        }
        run();
        EXPECT_EQ(kernel.stderr_text, "EXIT without PIN - continue booting\n" + short_separator);
        EXPECT_EQ(selection(), "img_a\n");
        EXPECT_EQ(elapsed_ms() - begin, exit_key ? 2000 : 15000);
        EXPECT_EQ(red_field() > 0, exit_key);  // only EXIT leaves the field red
    }
    EXPECT_EQ(remote->closes, 2);
}

// The lock holds whenever a lock file is there, also when the medium does not
// let it open for writing; ENTER and ESC act as OK and EXIT. Anything but a
// regular file under the name is no lock (a FIFO would hold the menu).
TEST_F(PinStageTest, LockHoldsOnAReadOnlyMediumAndEnterAndEscActAsOkAndExit) {
    const std::string list_exit = "OK   - booting 1 img_a\nEXIT - continue booting 1 img_a\n";
    const std::string pin_exit = "EXIT without PIN - continue booting\n";
    const struct {
        const char* what;
        const char* lock;  // "fifo", "dir" or a digest
        bool read_only;
        const char* typed;  // then ENTER; nullptr: nothing typed
        std::string log;
    } rows[] = {
        {"read-only, right PIN", md5_1234, true, "1234", list_exit + short_separator},
        {"read-only, ESC", md5_1234, true, nullptr, pin_exit + short_separator},
        {"writable, right PIN", md5_1234, false, "1234", list_exit + short_separator},
        {"a FIFO is no lock", "fifo", false, nullptr, list_exit + short_separator},
        {"a directory is no lock", "dir", false, nullptr, list_exit + short_separator},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        kernel.unlink(ob::lock_file);
        kernel.rmdir(ob::lock_file);
        if (std::string(row.lock) == "fifo")
            kernel.make_fifo(ob::lock_file);
        else if (std::string(row.lock) == "dir")
            kernel.make_dir(ob::lock_file);
        else
            lock(row.lock);
        if (row.read_only) kernel.fail_open_for_writing(ob::lock_file, EROFS);
        kernel.stderr_text.clear();
        int64_t at = elapsed_ms();
        if (row.typed != nullptr) {
            for (const char* c = row.typed; *c != '\0'; ++c)
                press(at += 300, static_cast<uint16_t>(KEY_1 + (*c - '1')));
            press(at += 300, KEY_ENTER);
            at += 1000;  // the green field's second
        }
        press(at + 300, KEY_ESC);
        run();
        EXPECT_EQ(kernel.stderr_text, row.log);
        EXPECT_EQ(selection(), "img_a\n");
    }
}

}  // namespace
