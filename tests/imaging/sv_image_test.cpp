#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "imaging/sv_image.h"

namespace {

using Rows = std::vector<std::vector<int>>;

// A one-channel image from rows of values, and back.
void Fill1(CSvImage& image, const Rows& rows) {
    image.Create(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 1);
    for (size_t y = 0; y < rows.size(); ++y) {
        for (size_t x = 0; x < rows[y].size(); ++x) {
            image.GetRow(static_cast<int>(y))[x] = static_cast<uint8_t>(rows[y][x]);
        }
    }
}

Rows Rows1(const CSvImage& image) {
    Rows rows(image.GetHeight(), std::vector<int>(image.GetWidth()));
    for (int y = 0; y < image.GetHeight(); ++y) {
        for (int x = 0; x < image.GetWidth(); ++x) {
            rows[y][x] = image.GetRow(y)[x];
        }
    }
    return rows;
}

void SetBgr(CSvImage& image, int x, int y, int b, int g, int r) {
    image.SetBlue(x, y, static_cast<uint8_t>(b));
    image.SetGreen(x, y, static_cast<uint8_t>(g));
    image.SetRed(x, y, static_cast<uint8_t>(r));
}

std::string TempPath(const std::string& name) {
    return testing::TempDir() + "sv_image_" + std::to_string(getpid()) + "_" + name;
}

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string RunShell(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, n);
        }
        pclose(pipe);
    }
    return out;
}

}  // namespace

TEST(SvImage, EmptyContainerDoesNothingAndSavesNoFile) {
    CSvImage image;
    EXPECT_EQ(image.HasImage(), 0);
    EXPECT_EQ(image.GetWidth() + image.GetHeight() + image.GetChannels() + image.GetRed(0, 0), 0);
    image.SetRed(0, 0, 9);
    image.Resize(4, 4);
    image.Flip(0);
    EXPECT_EQ(image.Threshold(1, 255, cv::THRESH_BINARY), nullptr);
    EXPECT_EQ(image.ConvertToGray(), nullptr);
    EXPECT_EQ(image.DetectEdge(0), nullptr);
    CSvImage other;
    other.CopyFrom(image);
    EXPECT_EQ(other.HasImage(), 0);
    const std::string path = TempPath("empty.bmp");
    EXPECT_EQ(image.Save(path), 0);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(image.HasImage(), 0);
    EXPECT_EQ(image.m_pImage, nullptr);
}

TEST(SvImage, CreateGivesZeroedRowsPaddedToFourBytesAndRefusesBadSizes) {
    const int expectedSteps[] = {4, 8, 12, 12, 16};  // widths 1..5, 3 channels
    CSvImage image;
    for (int width = 1; width <= 5; ++width) {
        image.Create(width, 3, 3);  // each Create replaces the image before
        ASSERT_EQ(image.GetWidth(), width);
        EXPECT_EQ(static_cast<int>(image.m_pImage->step[0]), expectedSteps[width - 1]);
        for (int y = 0; y < 3; ++y) {
            for (int i = 0; i < image.GetRowStep(); ++i) {
                EXPECT_EQ(image.GetRow(y)[i], 0);
            }
        }
    }
    SetBgr(image, 4, 2, 1, 2, 3);
    image.Create(0, 5, 3);
    image.Create(5, -1, 3);
    image.Create(5, 5, 7);
    EXPECT_EQ(image.GetWidth(), 5);  // nothing lost
    EXPECT_EQ(image.GetRed(4, 2), 3);
    EXPECT_NE(image.GetLastError().find("cannot create"), std::string::npos);
}

TEST(SvImage, PixelAccessorsIgnoreOutsidePositionsAndMissingChannels) {
    CSvImage image;
    image.Create(3, 2, 3);
    SetBgr(image, 2, 1, 10, 20, 30);
    EXPECT_EQ(image.GetRow(1)[6] * 10000 + image.GetRow(1)[7] * 100 + image.GetRow(1)[8], 102030);
    for (auto [x, y] : {std::pair{-1, 0}, {3, 0}, {0, 2}, {0, -1}}) {
        EXPECT_EQ(image.GetRed(x, y), 0);
        image.SetRed(x, y, 99);
    }
    EXPECT_EQ(cv::countNonZero(image.m_pImage->reshape(1)), 3);  // only the three set
    CSvImage gray;  // no red or green sample: reads 0, writes nothing
    Fill1(gray, {{1, 2, 3}});
    gray.SetGreen(0, 0, 50);
    EXPECT_EQ(gray.GetRed(2, 0) * 1000 + gray.GetBlue(0, 0), 1);
}

TEST(SvImage, ResizeIsNearestNeighbourAndAlwaysAFreshImage) {
    CSvImage image;
    Fill1(image, {{1, 2}, {3, 4}});
    image.Resize(4, 4);
    EXPECT_EQ(Rows1(image), (Rows{{1, 1, 2, 2}, {1, 1, 2, 2}, {3, 3, 4, 4}, {3, 3, 4, 4}}));
    Fill1(image, {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}});
    image.Resize(2, 2);
    EXPECT_EQ(Rows1(image), (Rows{{1, 3}, {9, 11}}));

    CSvImage colour;
    colour.Create(3, 1, 3);
    SetBgr(colour, 0, 0, 1, 2, 3);
    SetBgr(colour, 2, 0, 7, 8, 9);
    const uint8_t* before = colour.GetRow(0);
    colour.Resize(3, 1);
    EXPECT_NE(colour.GetRow(0), before);
    EXPECT_EQ(colour.GetRed(0, 0), 3);
    colour.Resize(5, 1);  // source columns 0 0 1 1 2
    EXPECT_EQ(colour.GetRowStep(), 16);
    EXPECT_EQ(colour.GetRed(1, 0) * 100 + colour.GetRed(2, 0) * 10 + colour.GetBlue(4, 0), 307);
    colour.Resize(0, 3);  // refused, image kept
    EXPECT_EQ(colour.GetWidth(), 5);
}

TEST(SvImage, SplitAndMergeMapChannelsToBlueGreenRed) {
    CSvImage image;
    image.Create(2, 1, 3);
    SetBgr(image, 0, 0, 1, 2, 3);
    SetBgr(image, 1, 0, 4, 5, 6);
    CSvImage red, green, blue;
    image.SplitChannels(red, green, blue);
    EXPECT_EQ(Rows1(blue), (Rows{{1, 4}}));
    EXPECT_EQ(Rows1(green), (Rows{{2, 5}}));
    EXPECT_EQ(Rows1(red), (Rows{{3, 6}}));

    CSvImage merged;                         // empty before: holds a 3-channel image after
    merged.MergeChannels(blue, green, red);  // swapped on purpose
    ASSERT_EQ(merged.GetChannels(), 3);
    EXPECT_EQ(merged.GetBlue(1, 0) * 100 + merged.GetGreen(1, 0) * 10 + merged.GetRed(1, 0), 654);

    CSvImage small;
    Fill1(small, {{1}});
    merged.MergeChannels(red, green, small);  // sizes differ: refused, nothing lost
    EXPECT_EQ(merged.GetBlue(1, 0), 6);
    EXPECT_FALSE(merged.GetLastError().empty());
}

TEST(SvImage, ConversionsThresholdAndFlip) {
    CSvImage image;
    image.Create(3, 1, 3);
    SetBgr(image, 0, 0, 255, 0, 0);  // channel 0 counts as red: 0.299
    SetBgr(image, 1, 0, 0, 255, 0);  // 0.587
    SetBgr(image, 2, 0, 0, 0, 255);  // channel 2 counts as blue: 0.114
    image.ConvertToGray();
    EXPECT_EQ(Rows1(image), (Rows{{76, 150, 29}}));
    image.Threshold(100.0f, 255.0f, cv::THRESH_BINARY);
    EXPECT_EQ(Rows1(image), (Rows{{0, 255, 0}}));
    image.Threshold(1.0f, 255.0f, 77);  // no such type: unchanged
    image.Flip(1);
    EXPECT_EQ(Rows1(image), (Rows{{0, 255, 0}}));
    image.ConvertToColor();
    ASSERT_EQ(image.GetChannels(), 3);
    EXPECT_EQ(image.GetRowStep(), 12);
    EXPECT_EQ(image.GetBlue(1, 0) + image.GetRed(1, 0), 510);
    image.SetRed(1, 0, 0);  // blue-green: hue 90 of 0..180
    image.ConvertToHSV();
    EXPECT_EQ(image.GetBlue(1, 0), 90);
    Fill1(image, {{1, 2}, {3, 4}});
    image.Flip(0);
    EXPECT_EQ(Rows1(image), (Rows{{3, 4}, {1, 2}}));
    image.Flip(-1);
    EXPECT_EQ(Rows1(image), (Rows{{2, 1}, {4, 3}}));
}
TEST(SvImage, SobelAndLaplaceRepeatTheBorderPixels) {
    // A step one column in: with repeated borders column 0 sees 0 on its left and reports the
    // edge; a mirrored border would see 10 there and report nothing.
    CSvImage sobel;
    Fill1(sobel, Rows(3, {0, 10, 10, 10}));
    EXPECT_EQ(sobel.DetectEdge(0), sobel.m_pImage);
    EXPECT_EQ(Rows1(sobel), Rows(3, {40, 40, 0, 0}));
    // Two columns only: the right border must repeat column 1, not read the row padding.
    Fill1(sobel, {{0, 0}, {10, 10}, {10, 10}});
    sobel.DetectEdge(1);
    EXPECT_EQ(Rows1(sobel), (Rows{{40, 40}, {40, 40}, {0, 0}}));

    // Aperture 3 Laplace: 2 0 2 / 0 -8 0 / 2 0 2. A dark centre in a flat field gives 80 there,
    // negative (saturated to 0) on the diagonals, 0 elsewhere including the borders.
    Rows field(5, std::vector<int>(5, 10));
    field[2][2] = 0;
    CSvImage laplace;
    Fill1(laplace, field);
    laplace.DetectEdge(7);
    Rows expected(5, std::vector<int>(5, 0));
    expected[2][2] = 80;
    EXPECT_EQ(Rows1(laplace), expected);
    for (int method : {10, -1}) {  // not a method: nothing happens
        EXPECT_EQ(laplace.DetectEdge(method), laplace.m_pImage);
    }
    EXPECT_EQ(Rows1(laplace), expected);
    laplace.ConvertToColor();
    laplace.DetectEdge(0);  // needs one channel: nothing happens
    EXPECT_EQ(laplace.GetRed(2, 2) + laplace.GetBlue(2, 2), 160);
}

TEST(SvImage, MaskFiltersWorkPerChannelWithRepeatedBorders) {
    CSvImage image;  // Prewitt x on a 3-channel step: each channel filtered on its own
    image.Create(3, 2, 3);
    for (int y = 0; y < 2; ++y) {
        SetBgr(image, 2, y, 10, 20, 30);
    }
    image.DetectEdge(3);
    ASSERT_EQ(image.GetChannels(), 3);
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(image.GetBlue(0, y), 0);
        EXPECT_EQ(image.GetBlue(1, y), 30);  // 3 rows x (10 - 0)
        EXPECT_EQ(image.GetRed(1, y), 90);
        EXPECT_EQ(image.GetRed(2, y), 90);  // right border repeats column 2
    }
    CSvImage flat;  // the difference-of-Gaussians mask sums to 0: flat stays 0 to the borders
    Fill1(flat, Rows(2, {90, 90, 90}));
    flat.DetectEdge(9);
    EXPECT_EQ(Rows1(flat), Rows(2, {0, 0, 0}));

    // Into an empty target: it receives a one-channel image; the source is untouched.
    const float shift[3] = {0, 0, 1};  // 1 x 3: each pixel takes its right neighbour
    CSvImage source, target, wrongSize;
    Fill1(source, {{1, 2, 3}});
    source.ApplyMask(shift, 1, 3, &target);
    EXPECT_EQ(Rows1(target), (Rows{{2, 3, 3}}));
    EXPECT_EQ(Rows1(source), (Rows{{1, 2, 3}}));
    Fill1(wrongSize, {{7}});
    source.ApplyMask(shift, 1, 3, &wrongSize);  // refused, target kept
    EXPECT_EQ(Rows1(wrongSize), (Rows{{7}}));
}

TEST(SvImage, BmpRoundTripIsA24BitFileThatImageMagickReads) {
    CSvImage image;
    image.Create(5, 3, 3);  // width 5: padded rows in the file too
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            SetBgr(image, x, y, x * 40, y * 100, 7 + x + y);
        }
    }
    const std::string path = TempPath("round.bmp");
    ASSERT_EQ(image.Save(path), 1) << image.GetLastError();
    // BMP3: the 40-byte info header; %z: 8 bits per channel, 3 channels.
    EXPECT_EQ(RunShell("/usr/bin/identify -format '%m %w %h %z %[channels]' '" + path + "'"),
              "BMP3 5 3 8 srgb");
    EXPECT_EQ(RunShell("od -An -tu2 -j28 -N2 '" + path + "' | tr -d ' \\n'"), "24");
    const std::string rgb = RunShell("/usr/bin/convert '" + path + "' -depth 8 rgb:-");
    ASSERT_EQ(rgb.size(), 5u * 3u * 3u);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            const size_t at = (y * 5 + x) * 3;  // red, green, blue; top row first
            EXPECT_EQ(static_cast<uint8_t>(rgb[at]), 7 + x + y);
            EXPECT_EQ(static_cast<uint8_t>(rgb[at + 1]), y * 100);
            EXPECT_EQ(static_cast<uint8_t>(rgb[at + 2]), x * 40);
        }
    }
    std::remove(path.c_str());
}

TEST(SvImage, LoadGivesThreeChannelsOrAnEmptyContainerAndAReason) {
    const std::string path = TempPath("gray.png");
    ASSERT_EQ(RunShell("/usr/bin/convert -size 3x2 xc:'gray(50)' -type Grayscale '" + path +
                       "' && echo ok"),
              "ok\n");
    CSvImage image;
    ASSERT_EQ(image.Load(path), 1);
    EXPECT_EQ(image.GetChannels(), 3);
    EXPECT_EQ(image.GetGreen(2, 1), 50);
    std::remove(path.c_str());

    EXPECT_EQ(image.Load(TempPath("no-such-file.bmp")), 0);  // held an image before
    EXPECT_EQ(image.HasImage(), 0);
    EXPECT_EQ(image.m_pImage, nullptr);
    EXPECT_NE(image.GetLastError().find("no-such-file.bmp"), std::string::npos);
}

TEST(SvImage, FailedSaveReportsKeepsTheImageAndLeavesNoFile) {
    CSvImage image;
    image.Create(4, 4, 3);
    EXPECT_EQ(image.Save(TempPath("missing-dir") + "/capture.bmp"), 0);
    EXPECT_NE(image.GetLastError().find("cannot open"), std::string::npos);
    const std::string noFormat = TempPath("capture.nosuchformat");
    EXPECT_EQ(image.Save(noFormat), 0);
    EXPECT_FALSE(FileExists(noFormat));
    // A write that fails part-way (a device that is always full) leaves nothing behind.
    const std::string full = TempPath("full.bmp");
    ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
    EXPECT_EQ(image.Save(full), 0);
    EXPECT_NE(image.GetLastError().find("cannot write"), std::string::npos);
    EXPECT_FALSE(FileExists(full));
    unlink(full.c_str());
    EXPECT_EQ(image.HasImage(), 1);
}

TEST(SvImage, DrawingScalesIntoTheRectangleAndClipsToTheCanvas) {
    CSvImage image;
    image.Create(2, 1, 3);
    SetBgr(image, 0, 0, 1, 2, 3);
    SetBgr(image, 1, 0, 4, 5, 6);
    cv::Mat canvas(3, 5, CV_8UC4, cv::Scalar(9, 9, 9, 9));
    image.DrawToRect(canvas, CSvRect{0, 0, 4, 2});  // 2 x 1 to 4 x 2
    const cv::Vec4b first(1, 2, 3, 255), second(4, 5, 6, 255), untouched(9, 9, 9, 9);
    const cv::Vec4b expected[3][5] = {{first, first, second, second, untouched},
                                      {first, first, second, second, untouched},
                                      {untouched, untouched, untouched, untouched, first}};
    image.Show(canvas, 4, 2);  // unscaled, only its first pixel lands on the canvas
    image.Show(nullptr, 0, 0);
    image.DrawToRect(canvas, CSvRect{3, 3, 1, 1});  // inverted: nothing drawn
    image.Show(canvas, -10, -10);                   // wholly off the canvas
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(canvas.at<cv::Vec4b>(y, x), expected[y][x]) << x << "," << y;
        }
    }
}
