#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "common/ffprobe_support.h"
#include "imaging/sv_image.h"

namespace {

using Rows = std::vector<std::vector<int>>;

void SetBgr(CSvImage& image, int x, int y, int b, int g, int r) {
    image.SetBlue(x, y, uint8_t(b));
    image.SetGreen(x, y, uint8_t(g));
    image.SetRed(x, y, uint8_t(r));
}

// An image of one channel, or of three from values 0xBBGGRR, from rows of values; and back.
void Fill(CSvImage& image, const Rows& rows, int channels = 1) {
    image.Create(int(rows[0].size()), int(rows.size()), channels);
    for (int y = 0; y < image.GetHeight(); ++y) {
        for (int x = 0; x < image.GetWidth(); ++x) {
            const int v = rows[y][x];
            channels == 1 ? void(image.GetRow(y)[x] = uint8_t(v))
                          : SetBgr(image, x, y, v >> 16, v >> 8 & 0xFF, v & 0xFF);
        }
    }
}

Rows Rows1(const CSvImage& image) {
    Rows rows(image.GetHeight(), std::vector<int>(image.GetWidth()));
    for (int y = 0; y < image.GetHeight(); ++y) {
        rows[y].assign(image.GetRow(y), image.GetRow(y) + image.GetWidth());
    }
    return rows;
}

// Blue, green and red of one pixel as 0xBBGGRR.
int Bgr(const CSvImage& image, int x, int y) {
    return image.GetBlue(x, y) << 16 | image.GetGreen(x, y) << 8 | image.GetRed(x, y);
}

}  // namespace

TEST(SvImage, EmptyContainerAndRefusedArgumentsChangeNothing) {
    CSvImage image, other;
    image.SetRed(0, 0, 9);
    image.Resize(4, 4);
    image.Flip(0);
    EXPECT_EQ(image.Threshold(1, 255, cv::THRESH_BINARY), nullptr);
    EXPECT_EQ(image.ConvertToGray(), nullptr);
    EXPECT_EQ(image.DetectEdge(0), nullptr);
    other.CopyFrom(image);
    EXPECT_EQ(image.HasImage() + other.HasImage() + image.GetWidth() + image.GetRed(0, 0), 0);
    probe::TempDir dir;
    EXPECT_EQ(image.Save(dir.Path("empty.bmp")), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("empty.bmp")));

    image.Create(5, 5, 3);
    SetBgr(image, 4, 2, 1, 2, 3);
    image.Create(0, 5, 3);
    image.Create(5, -1, 3);
    image.Create(5, 5, 7);
    EXPECT_NE(image.GetLastError().find("cannot create"), std::string::npos);
    image.Resize(0, 3);
    for (auto [x, y] : {std::pair{-1, 0}, {5, 0}, {0, 5}, {0, -1}}) {
        EXPECT_EQ(image.GetRed(x, y), 0);
        image.SetRed(x, y, 99);
    }
    EXPECT_EQ(image.GetWidth(), 5);  // nothing lost, nothing written outside
    EXPECT_EQ(cv::countNonZero(image.m_pImage->reshape(1)), 3);
    EXPECT_EQ(Bgr(image, 4, 2), 0x010203);
    CSvImage gray;  // no red or green sample: reads 0, writes nothing
    Fill(gray, {{1, 2, 3}});
    gray.SetGreen(0, 0, 50);
    EXPECT_EQ(gray.GetRed(2, 0) * 1000 + gray.GetBlue(0, 0), 1);
    Fill(other, {{1}});
    image.MergeChannels(gray, gray, other);  // sizes differ: refused
    EXPECT_EQ(Bgr(image, 4, 2), 0x010203);
    EXPECT_FALSE(image.GetLastError().empty());
}

TEST(SvImage, CreateCopyAndResizeGivePaddedZeroedRows) {
    const int steps[] = {4, 8, 12, 12, 16};  // widths 1..5, 3 channels: rows of whole words
    CSvImage image;
    for (int width = 1; width <= 5; ++width) {
        image.Create(width, 3, 3);  // each Create replaces the image before
        EXPECT_EQ(image.GetRowStep(), steps[width - 1]);
        for (int y = 0; y < 3; ++y) {
            EXPECT_EQ(std::count(image.GetRow(y), image.GetRow(y) + steps[width - 1], 0),
                      steps[width - 1]);
        }
    }
    CSvImage copy;
    SetBgr(image, 2, 1, 10, 20, 30);
    copy.CopyFrom(image);
    image.SetRed(2, 1, 0);  // a deep copy: the original changes alone
    EXPECT_EQ(copy.GetRowStep(), 16);
    EXPECT_EQ(Bgr(copy, 2, 1), 0x0A141E);
    EXPECT_EQ(Bgr(image, 2, 1), 0x0A1400);

    Fill(image, {{1, 2}, {3, 4}});
    image.Resize(4, 4);  // nearest neighbour, always a fresh image
    EXPECT_EQ(Rows1(image), (Rows{{1, 1, 2, 2}, {1, 1, 2, 2}, {3, 3, 4, 4}, {3, 3, 4, 4}}));
    const uint8_t* before = copy.GetRow(0);
    copy.Resize(10, 3);  // every column twice
    EXPECT_NE(copy.GetRow(0), before);
    EXPECT_EQ(copy.GetRowStep(), 32);
    EXPECT_EQ(Bgr(copy, 3, 1), 0);
    EXPECT_EQ(Bgr(copy, 4, 1), 0x0A141E);
    EXPECT_EQ(Bgr(copy, 5, 1), 0x0A141E);
}

// Gray conversion reads channel 0 as red, as the program always has.
TEST(SvImage, SplitMergeGrayAndThresholdKeepTheChannelOrder) {
    CSvImage image, red, green, blue, merged;
    Fill(image, {{0x010203, 0x040506}}, 3);
    image.SplitChannels(red, green, blue);
    EXPECT_EQ(Rows1(blue), (Rows{{1, 4}}));
    EXPECT_EQ(Rows1(green), (Rows{{2, 5}}));
    EXPECT_EQ(Rows1(red), (Rows{{3, 6}}));
    merged.MergeChannels(blue, green, red);  // swapped on purpose; empty before
    EXPECT_EQ(Bgr(merged, 1, 0), 0x060504);

    // Channel 0 counts as red (0.299), channel 1 as green (0.587), channel 2 as blue (0.114).
    Fill(image, {{0xFF0000, 0x00FF00, 0x0000FF}}, 3);
    image.ConvertToGray();
    EXPECT_EQ(Rows1(image), (Rows{{76, 150, 29}}));
    image.Threshold(100.0f, 255.0f, cv::THRESH_BINARY);
    image.Threshold(1.0f, 255.0f, 77);  // no such type: unchanged
    EXPECT_EQ(Rows1(image), (Rows{{0, 255, 0}}));
}

TEST(SvImage, EdgeFiltersRepeatTheBorderPixels) {
    // Sobel x on a step one column in: with repeated borders column 0 sees 0 on its left and
    // reports the edge; a mirrored border would see 10 there and report nothing.
    CSvImage image;
    Fill(image, Rows(3, {0, 10, 10, 10}));
    EXPECT_EQ(image.DetectEdge(0), image.m_pImage);
    EXPECT_EQ(Rows1(image), Rows(3, {40, 40, 0, 0}));
    // Two columns only: the right border must repeat column 1, not read the row padding.
    Fill(image, {{0, 0}, {10, 10}, {10, 10}});
    image.DetectEdge(1);
    EXPECT_EQ(Rows1(image), (Rows{{40, 40}, {40, 40}, {0, 0}}));

    // Prewitt x on colour: each channel filtered on its own.
    Fill(image, Rows(2, {0, 0, 0x0A141E}), 3);
    image.DetectEdge(0);   // Sobel needs one channel: nothing happens
    image.DetectEdge(10);  // not a method: nothing happens
    image.DetectEdge(3);
    EXPECT_EQ(Bgr(image, 0, 1), 0);
    EXPECT_EQ(Bgr(image, 1, 1), 0x1E3C5A);  // 3 rows x (10, 20, 30)
    EXPECT_EQ(Bgr(image, 2, 0), 0x1E3C5A);  // the right border repeats column 2

    const float shift[3] = {0, 0, 1};  // 1 x 3: each pixel takes its right neighbour
    CSvImage source, target, wrongSize;
    Fill(source, {{1, 2, 3}});
    source.ApplyMask(shift, 1, 3, &target);  // into an empty target; the source is untouched
    EXPECT_EQ(Rows1(target), (Rows{{2, 3, 3}}));
    EXPECT_EQ(Rows1(source), (Rows{{1, 2, 3}}));
    Fill(wrongSize, {{7}});
    source.ApplyMask(shift, 1, 3, &wrongSize);  // refused, target kept
    EXPECT_EQ(Rows1(wrongSize), (Rows{{7}}));
}

TEST(SvImage, FilesRoundTripThroughImageMagickAndFailuresLeaveNothing) {
    probe::TempDir dir;
    CSvImage image;
    image.Create(5, 3, 3);  // width 5: padded rows in the file too
    for (int i = 0; i < 15; ++i) {
        SetBgr(image, i % 5, i / 5, i % 5 * 40, i / 5 * 100, 7 + i % 5 + i / 5);
    }
    const std::string path = dir.Path("round.bmp");
    ASSERT_EQ(image.Save(path), 1) << image.GetLastError();
    // BMP3: the 40-byte info header; 8 bits per channel, 3 channels, 24 bits per pixel.
    EXPECT_EQ(probe::Shell("/usr/bin/identify -format '%m %w %h %z %[channels]' " + path),
              "BMP3 5 3 8 srgb");
    EXPECT_EQ(probe::ReadFile(path).at(28), 24);
    const std::string rgb = probe::Shell("/usr/bin/convert " + path + " -depth 8 rgb:-");
    std::string expected;  // red, green, blue; top row first
    for (int i = 0; i < 15; ++i) {
        expected += {char(7 + i % 5 + i / 5), char(i / 5 * 100), char(i % 5 * 40)};
    }
    EXPECT_EQ(rgb, expected);

    probe::Shell("/usr/bin/convert -size 3x2 xc:'gray(50)' -type Grayscale " + dir.Path("g.png"));
    ASSERT_EQ(image.Load(dir.Path("g.png")), 1);  // read as three channels
    EXPECT_EQ(Bgr(image, 2, 1), 0x323232);
    EXPECT_EQ(image.Load(dir.Path("no-such-file.bmp")), 0);  // held an image before
    EXPECT_EQ(image.HasImage(), 0);
    EXPECT_NE(image.GetLastError().find("no-such-file.bmp"), std::string::npos);

    image.Create(4, 4, 3);
    EXPECT_EQ(image.Save(dir.Path("missing-dir/capture.bmp")), 0);
    EXPECT_NE(image.GetLastError().find("cannot open"), std::string::npos);
    EXPECT_EQ(image.Save(dir.Path("capture.nosuchformat")), 0);
    // A write that fails part-way (a device that is always full) leaves nothing behind.
    ASSERT_EQ(symlink("/dev/full", dir.Path("full.bmp").c_str()), 0);
    EXPECT_EQ(image.Save(dir.Path("full.bmp")), 0);
    EXPECT_NE(image.GetLastError().find("cannot write"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("full.bmp")));
    EXPECT_FALSE(std::filesystem::exists(dir.Path("capture.nosuchformat")));
    EXPECT_EQ(image.HasImage(), 1);
}

TEST(SvImage, DrawingScalesIntoTheRectangleAndClipsToTheCanvas) {
    CSvImage image;
    Fill(image, {{0x010203, 0x040506}}, 3);
    cv::Mat canvas(3, 5, CV_8UC4, cv::Scalar(9, 9, 9, 9));
    image.DrawToRect(canvas, CSvRect{0, 0, 4, 2});  // 2 x 1 to 4 x 2
    image.Show(canvas, 4, 2);  // unscaled, only its first pixel lands on the canvas
    image.Show(nullptr, 0, 0);
    image.DrawToRect(canvas, CSvRect{3, 3, 1, 1});  // inverted: nothing drawn
    image.Show(canvas, -10, -10);                   // wholly off the canvas
    const cv::Vec4b a(1, 2, 3, 255), b(4, 5, 6, 255), o(9, 9, 9, 9);
    const cv::Vec4b expected[3][5] = {{a, a, b, b, o}, {a, a, b, b, o}, {o, o, o, o, a}};
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(canvas.at<cv::Vec4b>(i / 5, i % 5), expected[i / 5][i % 5]) << i;
    }
    // A rectangle wider than an int can measure: its right half covers the canvas.
    image.DrawToRect(canvas, CSvRect{-2000000000, 0, 2000000000, 1});
    EXPECT_EQ(canvas.at<cv::Vec4b>(0, 0), b);
    EXPECT_EQ(canvas.at<cv::Vec4b>(0, 4), b);
    EXPECT_EQ(canvas.at<cv::Vec4b>(1, 0), a);
}
