#include "control_file.h"

#include <errno.h>
#include <gtest/gtest.h>

#include "box_model.h"
#include "fake_kernel.h"

namespace {

TEST(ControlNumber, ReadsLikeAtoiAndNeverOverflows) {
    EXPECT_EQ(ob::control_number("1080p"), 1080);
    EXPECT_EQ(ob::control_number("  -1"), -1);
    EXPECT_EQ(ob::control_number("+15"), 15);
    EXPECT_EQ(ob::control_number(""), 0);
    EXPECT_EQ(ob::control_number("abc"), 0);
    EXPECT_EQ(ob::control_number("99999999999999999999"), 2147483647);
    EXPECT_EQ(ob::control_number("-99999999999999999999"), -2147483647 - 1);
}

// A FIFO, a device node or a directory under a control file's name is never
// waited on and never read as content.
TEST(ControlFile, OnlyRegularFilesAreContentAndNothingWaits) {
    ob_test::FakeKernel k;
    k.write_file("/media/ob/obboot.ini", "image1\n");
    k.make_fifo("/media/ob/.obtimeout");
    k.make_dir("/media/ob/.obcolor");
    char text[32];
    EXPECT_EQ(ob::read_control_file("/media/ob/obboot.ini", text, sizeof text, 20), 7);
    EXPECT_STREQ(text, "image1\n");
    for (const char* odd : {"/media/ob/.obtimeout", "/media/ob/.obcolor", "/media/ob/missing"}) {
        EXPECT_EQ(ob::read_control_file(odd, text, sizeof text, 20), -1) << odd;
        EXPECT_STREQ(text, "") << odd;
        EXPECT_FALSE(ob::is_regular_file(odd)) << odd;
    }
    EXPECT_FALSE(ob::path_exists("/media/ob/.obtimeout"));
    EXPECT_TRUE(ob::path_exists("/media/ob/.obcolor"));
    EXPECT_TRUE(ob::is_regular_file("/media/ob/obboot.ini"));
    EXPECT_EQ(ob::open_regular_file("/media/ob/.obtimeout"), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST(BoxModel, LastMatchingTestInOrderCounts) {
    EXPECT_EQ(ob::box_model_from_text("dm7080"), 1);
    EXPECT_EQ(ob::box_model_from_text("dm820"), 2);
    EXPECT_EQ(ob::box_model_from_text("dm520"), 3);
    EXPECT_EQ(ob::box_model_from_text("dm525"), 3);
    EXPECT_EQ(ob::box_model_from_text("dm900"), 4);
    EXPECT_EQ(ob::box_model_from_text("dm7020"), 1);
    EXPECT_EQ(ob::box_model_from_text(nullptr), 1);
    EXPECT_STREQ(ob::find_model_text("3.14.28-1.12-dm900"), "dm900");
    EXPECT_EQ(ob::find_model_text("3.10.0"), nullptr);
}

}  // namespace
