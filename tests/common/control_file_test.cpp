#include "control_file.h"

#include <gtest/gtest.h>

#include "box_model.h"

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
