#include "recording/stream_picture.h"

#include <gtest/gtest.h>

// Rows padded past the picture, in each byte order, from a stream that lies right of the
// first monitor; the part of the region it does not show is black; a picture twice as dense
// as the screen (a monitor scaled by 2) is averaged down to the region's size.
TEST(StreamPicture, RegionFromPaddedRowsLayoutsPlacesAndScales) {
    cv::Mat rows(2, 5, CV_8UC4, cv::Scalar::all(0xEE));  // 4 x 2 pixels, 20 bytes a row
    for (int i = 0; i < 8; ++i) {
        rows.at<cv::Vec4b>(i / 4, i % 4) = cv::Vec4b(i % 4 * 10, i / 4 * 10, 200, 7);
    }
    cv::Mat bgrx(2, 3, CV_8UC4);
    const CSvRect region{1922, 0, 1925, 2};
    CStreamPicture picture{rows.data, 4, 2, 20, StreamPixels::kBgrx};
    ASSERT_TRUE(CopyStreamRegion(picture, {1920, 0, 0, 0}, region, bgrx));
    EXPECT_EQ(bgrx.at<cv::Vec4b>(1, 1), cv::Vec4b(30, 10, 200, 7));
    EXPECT_EQ(bgrx.at<cv::Vec4b>(0, 2), cv::Vec4b(0, 0, 0, 255));
    picture.pixels = StreamPixels::kRgba;
    ASSERT_TRUE(CopyStreamRegion(picture, {1920, 0, 0, 0}, region, bgrx));
    EXPECT_EQ(bgrx.at<cv::Vec4b>(1, 1), cv::Vec4b(200, 10, 30, 7));
    cv::Mat one(1, 1, CV_8UC4);
    ASSERT_TRUE(CopyStreamRegion(picture, {0, 0, 2, 1}, {1, 0, 2, 1}, one));
    EXPECT_EQ(one.at<cv::Vec4b>(0, 0), cv::Vec4b(200, 5, 25, 7));
}
