#include "QuorvaneCore/DisplayResolution.h"

#include <gtest/gtest.h>

using namespace quorvane;

TEST(DisplayResolutionTest, IsValidFromOneTo65536WithNoFewerPixelsThanPoints)
{
    EXPECT_TRUE((DisplayResolution{65536, 1, 65536, 1}).isValid());
    EXPECT_FALSE((DisplayResolution{0, 1080, 1920, 1080}).isValid());
    EXPECT_FALSE((DisplayResolution{1920, 1080, 1920, 65537}).isValid());
    EXPECT_FALSE((DisplayResolution{1920, 1080, 3840, 720}).isValid());
    EXPECT_FALSE((DisplayResolution{1920, 1080, 1280, 2160}).isValid());
}

TEST(DisplayResolutionTest, LabelsMarkHiDPIOnEitherAxis)
{
    EXPECT_EQ((DisplayResolution{1920, 1080, 1920, 1080}).label(), "1920 × 1080");
    EXPECT_EQ((DisplayResolution{1920, 1080, 1920, 1200}).label(), "1920 × 1080 · HiDPI");
    EXPECT_EQ((DisplayResolution{1512, 982, 3024, 982}).label(), "1512 × 982 · HiDPI");
    EXPECT_EQ((DisplayResolution{1512, 982, 3024, 1964}).pixelLabel(), "3024 × 1964 pixels");
}
