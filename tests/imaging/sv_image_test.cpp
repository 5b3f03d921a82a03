#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "imaging/sv_image.h"

namespace {

// A one-channel image from rows of values.
void Fill1(CSvImage& image, const std::vector<std::vector<int>>& rows) {
    image.Create(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 1);
    for (size_t y = 0; y < rows.size(); ++y) {
        for (size_t x = 0; x < rows[y].size(); ++x) {
            image.GetRow(static_cast<int>(y))[x] = static_cast<uint8_t>(rows[y][x]);
        }
    }
}

std::vector<std::vector<int>> Rows1(const CSvImage& image) {
    std::vector<std::vector<int>> rows(image.GetHeight(), std::vector<int>(image.GetWidth()));
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

std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    pclose(pipe);
    return out;
}

}  // namespace

TEST(SvImage, EmptyContainerDoesNothingAndSavesNoFile) {
    CSvImage image;
    EXPECT_EQ(image.HasImage(), 0);
    EXPECT_EQ(image.m_pImage, nullptr);
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.GetHeight(), 0);
    EXPECT_EQ(image.GetChannels(), 0);
    EXPECT_EQ(image.GetRed(0, 0), 0);
    image.SetRed(0, 0, 9);
    image.Release();
    image.Resize(4, 4);
    image.Flip(0);
    EXPECT_EQ(image.Threshold(1, 255, cv::THRESH_BINARY), nullptr);
    EXPECT_EQ(image.ConvertToGray(), nullptr);
    EXPECT_EQ(image.ConvertToColor(), nullptr);
    EXPECT_EQ(image.ConvertToHSV(), nullptr);
    EXPECT_EQ(image.DetectEdge(0), nullptr);
    CSvImage other;
    other.CopyFrom(image);  // from an empty container: no change
    EXPECT_EQ(other.HasImage(), 0);
    const std::string path = TempPath("empty.bmp");
    EXPECT_EQ(image.Save(path), 0);
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(image.GetLastError().empty());
    EXPECT_EQ(image.HasImage(), 0);
}

TEST(SvImage, CreateGivesZeroedRowsPaddedToFourBytes) {
    const int expectedSteps[] = {4, 8, 12, 12, 16};  // widths 1..5, 3 channels
    for (int width = 1; width <= 5; ++width) {
        CSvImage image;
        image.Create(width, 3, 3);
        ASSERT_EQ(image.HasImage(), 1);
        EXPECT_EQ(image.GetRowStep(), expectedSteps[width - 1]) << width;
        EXPECT_EQ(static_cast<int>(image.m_pImage->step[0]), expectedSteps[width - 1]);
        EXPECT_EQ(image.GetChannels(), 3);
        for (int y = 0; y < 3; ++y) {
            for (int i = 0; i < image.GetRowStep(); ++i) {
                EXPECT_EQ(image.GetRow(y)[i], 0);
            }
        }
    }
    CSvImage gray;
    gray.Create(5, 2, 1);
    EXPECT_EQ(gray.GetRowStep(), 8);
    gray.Create(7, 9, 4);  // replaces the first image
    EXPECT_EQ(gray.GetWidth(), 7);
    EXPECT_EQ(gray.GetHeight(), 9);
    EXPECT_EQ(gray.GetChannels(), 4);
}

TEST(SvImage, CreateWithBadSizeKeepsTheImageAndSaysWhy) {
    CSvImage image;
    image.Create(2, 2, 3);
    SetBgr(image, 1, 1, 1, 2, 3);
    image.Create(0, 5, 3);
    image.Create(5, -1, 3);
    image.Create(5, 5, 7);
    ASSERT_EQ(image.HasImage(), 1);
    EXPECT_EQ(image.GetWidth(), 2);
    EXPECT_EQ(image.GetRed(1, 1), 3);
    EXPECT_NE(image.GetLastError().find("cannot create"), std::string::npos);
}

TEST(SvImage, PixelAccessorsAddressBlueGreenRedAndIgnoreOutsidePositions) {
    CSvImage image;
    image.Create(3, 2, 3);
    SetBgr(image, 2, 1, 10, 20, 30);
    const uint8_t* row = image.GetRow(1);
    EXPECT_EQ(row[6], 10);  // blue first
    EXPECT_EQ(row[7], 20);
    EXPECT_EQ(row[8], 30);
    EXPECT_EQ(image.GetBlue(2, 1), 10);
    EXPECT_EQ(image.GetGreen(2, 1), 20);
    EXPECT_EQ(image.GetRed(2, 1), 30);
    for (auto [x, y] : {std::pair{-1, 0}, {3, 0}, {0, 2}, {0, -1}}) {
        EXPECT_EQ(image.GetRed(x, y), 0);
        image.SetRed(x, y, 99);
        image.SetBlue(x, y, 99);
    }
    for (int y = 0; y < 2; ++y) {
        for (int i = 0; i < image.GetRowStep(); ++i) {
            if (!(y == 1 && i >= 6)) {
                EXPECT_EQ(image.GetRow(y)[i], 0) << y << "," << i;
            }
        }
    }
    // A one-channel image has no red or green sample: reads 0, writes nothing.
    CSvImage gray;
    Fill1(gray, {{1, 2, 3}});
    EXPECT_EQ(gray.GetRed(2, 0), 0);
    gray.SetGreen(0, 0, 50);
    EXPECT_EQ(Rows1(gray), (std::vector<std::vector<int>>{{1, 2, 3}}));
    EXPECT_EQ(gray.GetBlue(2, 0), 3);
}

TEST(SvImage, ResizeIsNearestNeighbourAndAlwaysAFreshImage) {
    CSvImage image;
    Fill1(image, {{1, 2}, {3, 4}});
    image.Resize(4, 4);
    EXPECT_EQ(Rows1(image), (std::vector<std::vector<int>>{
                                {1, 1, 2, 2}, {1, 1, 2, 2}, {3, 3, 4, 4}, {3, 3, 4, 4}}));
    EXPECT_EQ(image.GetRowStep(), 4);

    CSvImage big;
    Fill1(big, {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}});
    big.Resize(2, 2);
    EXPECT_EQ(Rows1(big), (std::vector<std::vector<int>>{{1, 3}, {9, 11}}));

    CSvImage colour;
    colour.Create(3, 1, 3);
    SetBgr(colour, 0, 0, 1, 2, 3);
    SetBgr(colour, 2, 0, 7, 8, 9);
    const uint8_t* before = colour.GetRow(0);
    colour.Resize(3, 1);
    EXPECT_NE(colour.GetRow(0), before);
    EXPECT_EQ(colour.GetRed(0, 0), 3);
    EXPECT_EQ(colour.GetBlue(2, 0), 7);
    colour.Resize(5, 1);  // 3 -> 5: source columns 0 0 1 1 2
    EXPECT_EQ(colour.GetRowStep(), 16);
    EXPECT_EQ(colour.GetRed(1, 0), 3);
    EXPECT_EQ(colour.GetRed(2, 0), 0);
    EXPECT_EQ(colour.GetBlue(4, 0), 7);
    colour.Resize(0, 3);  // refused, image kept
    EXPECT_EQ(colour.GetWidth(), 5);
}

TEST(SvImage, CopiesAreDeepAndKeepDepth) {
    CSvImage source;
    Fill1(source, {{5, 6, 7}});
    CSvImage copy;
    source.CopyTo(copy);
    source.GetRow(0)[0] = 99;
    EXPECT_EQ(Rows1(copy), (std::vector<std::vector<int>>{{5, 6, 7}}));

    cv::Mat wide(2, 3, CV_16SC1, cv::Scalar(-300));
    CSvImage deep;
    deep.CopyFrom(&wide);
    EXPECT_EQ(deep.m_pImage->type(), CV_16SC1);
    EXPECT_EQ(deep.GetRowStep(), 8);
    EXPECT_EQ(deep.m_pImage->at<int16_t>(1, 2), -300);

    cv::Mat* out = nullptr;
    copy.CopyTo(out);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->type(), CV_8UC1);
    EXPECT_EQ(out->at<uint8_t>(0, 2), 7);
    delete out;
}

TEST(SvImage, SplitAndMergeMapChannelsToBlueGreenRed) {
    CSvImage image;
    image.Create(2, 1, 3);
    SetBgr(image, 0, 0, 1, 2, 3);
    SetBgr(image, 1, 0, 4, 5, 6);
    CSvImage red, green, blue;
    image.SplitChannels(red, green, blue);
    EXPECT_EQ(Rows1(blue), (std::vector<std::vector<int>>{{1, 4}}));
    EXPECT_EQ(Rows1(green), (std::vector<std::vector<int>>{{2, 5}}));
    EXPECT_EQ(Rows1(red), (std::vector<std::vector<int>>{{3, 6}}));

    CSvImage merged;                         // empty before: holds a 3-channel image after
    merged.MergeChannels(blue, green, red);  // swapped on purpose
    ASSERT_EQ(merged.GetChannels(), 3);
    EXPECT_EQ(merged.GetBlue(1, 0), 6);
    EXPECT_EQ(merged.GetGreen(1, 0), 5);
    EXPECT_EQ(merged.GetRed(1, 0), 4);

    CSvImage small;
    Fill1(small, {{1}});
    merged.MergeChannels(red, green, small);  // sizes differ: refused, nothing lost
    EXPECT_EQ(merged.GetWidth(), 2);
    EXPECT_EQ(merged.GetBlue(1, 0), 6);
    EXPECT_FALSE(merged.GetLastError().empty());
    CSvImage gray;
    Fill1(gray, {{1, 2}});
    gray.SplitChannels(red, green, blue);  // needs colour: targets unchanged
    EXPECT_EQ(Rows1(red), (std::vector<std::vector<int>>{{3, 6}}));
}

TEST(SvImage, GrayTakesChannelsAsRedGreenBlueAndColourAndHsvConvert) {
    CSvImage image;
    image.Create(3, 1, 3);
    SetBgr(image, 0, 0, 255, 0, 0);  // channel 0 counts as red: 0.299
    SetBgr(image, 1, 0, 0, 255, 0);  // 0.587
    SetBgr(image, 2, 0, 0, 0, 255);  // channel 2 counts as blue: 0.114
    image.ConvertToGray();
    ASSERT_EQ(image.GetChannels(), 1);
    EXPECT_EQ(Rows1(image), (std::vector<std::vector<int>>{{76, 150, 29}}));
    image.ConvertToGray();  // already gray: unchanged
    EXPECT_EQ(image.GetChannels(), 1);
    image.ConvertToColor();
    ASSERT_EQ(image.GetChannels(), 3);
    EXPECT_EQ(image.GetRowStep(), 12);
    EXPECT_EQ(image.GetBlue(1, 0), 150);
    EXPECT_EQ(image.GetRed(1, 0), 150);

    CSvImage hsv;
    hsv.Create(3, 1, 3);
    SetBgr(hsv, 0, 0, 0, 0, 255);  // red
    SetBgr(hsv, 1, 0, 0, 255, 0);  // green
    SetBgr(hsv, 2, 0, 255, 0, 0);  // blue
    hsv.ConvertToHSV();
    EXPECT_EQ(hsv.GetBlue(0, 0), 0);  // hue in channel 0, 0..180
    EXPECT_EQ(hsv.GetBlue(1, 0), 60);
    EXPECT_EQ(hsv.GetBlue(2, 0), 120);
    EXPECT_EQ(hsv.GetGreen(2, 0), 255);
    EXPECT_EQ(hsv.GetRed(2, 0), 255);
}

TEST(SvImage, ThresholdAndFlipWorkInPlace) {
    CSvImage image;
    Fill1(image, {{10, 100}, {101, 200}});
    image.Threshold(100.0f, 255.0f, cv::THRESH_BINARY);
    EXPECT_EQ(Rows1(image), (std::vector<std::vector<int>>{{0, 0}, {255, 255}}));
    image.Threshold(1.0f, 255.0f, 77);  // no such type: unchanged
    EXPECT_EQ(Rows1(image), (std::vector<std::vector<int>>{{0, 0}, {255, 255}}));

    CSvImage flip;
    Fill1(flip, {{1, 2}, {3, 4}});
    flip.Flip(0);
    EXPECT_EQ(Rows1(flip), (std::vector<std::vector<int>>{{3, 4}, {1, 2}}));
    flip.Flip(1);
    EXPECT_EQ(Rows1(flip), (std::vector<std::vector<int>>{{4, 3}, {2, 1}}));
    flip.Flip(-1);
    EXPECT_EQ(Rows1(flip), (std::vector<std::vector<int>>{{1, 2}, {3, 4}}));
}

TEST(SvImage, SobelAndLaplaceRepeatTheBorderPixels) {
    // A step one column in: with repeated borders column 0 sees 0 on its left and reports the
    // edge; a mirrored border would see 10 there and report nothing.
    CSvImage sobel;
    Fill1(sobel, {{0, 10, 10, 10}, {0, 10, 10, 10}, {0, 10, 10, 10}});
    EXPECT_EQ(sobel.DetectEdge(0), sobel.m_pImage);
    EXPECT_EQ(Rows1(sobel),
              (std::vector<std::vector<int>>{{40, 40, 0, 0}, {40, 40, 0, 0}, {40, 40, 0, 0}}));

    CSvImage sobelY;
    Fill1(sobelY, {{0, 0}, {10, 10}, {10, 10}});
    sobelY.DetectEdge(1);
    EXPECT_EQ(Rows1(sobelY), (std::vector<std::vector<int>>{{40, 40}, {40, 40}, {0, 0}}));

    // Aperture 3 Laplace: 2 0 2 / 0 -8 0 / 2 0 2. A dark centre in a flat field gives 80 there,
    // negative (saturated to 0) on the diagonals, 0 elsewhere including the borders.
    CSvImage laplace;
    Fill1(laplace, {{10, 10, 10, 10, 10},
                    {10, 10, 10, 10, 10},
                    {10, 10, 0, 10, 10},
                    {10, 10, 10, 10, 10},
                    {10, 10, 10, 10, 10}});
    laplace.DetectEdge(7);
    std::vector<std::vector<int>> expected(5, std::vector<int>(5, 0));
    expected[2][2] = 80;
    EXPECT_EQ(Rows1(laplace), expected);
}

TEST(SvImage, MaskFiltersWorkPerChannelWithRepeatedBorders) {
    // Prewitt x on a 3-channel step: each channel filtered on its own.
    CSvImage image;
    image.Create(3, 2, 3);
    for (int y = 0; y < 2; ++y) {
        SetBgr(image, 2, y, 10, 20, 30);
    }
    image.DetectEdge(3);
    ASSERT_EQ(image.GetChannels(), 3);
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(image.GetBlue(0, y), 0);
        EXPECT_EQ(image.GetBlue(1, y), 30);  // 3 rows x (10 - 0)
        EXPECT_EQ(image.GetGreen(1, y), 60);
        EXPECT_EQ(image.GetRed(1, y), 90);
        EXPECT_EQ(image.GetRed(2, y), 90);  // right border repeats column 2
    }

    // Roberts x: out(x, y) = in(x, y) - in(x + 1, y - 1).
    CSvImage roberts;
    Fill1(roberts, {{0, 0}, {50, 0}});
    roberts.DetectEdge(5);
    EXPECT_EQ(Rows1(roberts), (std::vector<std::vector<int>>{{0, 0}, {50, 0}}));

    // The difference-of-Gaussians mask sums to 0: a flat image stays 0 up to its borders.
    CSvImage flat;
    Fill1(flat, {{90, 90, 90}, {90, 90, 90}});
    flat.DetectEdge(9);
    EXPECT_EQ(Rows1(flat), (std::vector<std::vector<int>>{{0, 0, 0}, {0, 0, 0}}));

    // Into an empty target: the target receives a one-channel image; the source is untouched.
    const float shift[3] = {0, 0, 1};  // 1 x 3: each pixel takes its right neighbour
    CSvImage source, target;
    Fill1(source, {{1, 2, 3}});
    source.ApplyMask(shift, 1, 3, &target);
    EXPECT_EQ(Rows1(target), (std::vector<std::vector<int>>{{2, 3, 3}}));
    EXPECT_EQ(Rows1(source), (std::vector<std::vector<int>>{{1, 2, 3}}));
    CSvImage wrongSize;
    Fill1(wrongSize, {{7}});
    source.ApplyMask(shift, 1, 3, &wrongSize);  // refused, target kept
    EXPECT_EQ(Rows1(wrongSize), (std::vector<std::vector<int>>{{7}}));
    source.ApplyMask(nullptr, 3, 3, nullptr);
    EXPECT_EQ(Rows1(source), (std::vector<std::vector<int>>{{1, 2, 3}}));
}

TEST(SvImage, EdgeMethodsOutsideTheTableOrOnTheWrongImageChangeNothing) {
    CSvImage image;
    image.Create(4, 4, 3);
    SetBgr(image, 1, 1, 9, 9, 9);
    for (int method : {10, -1, 0, 1, 2, 7, 8}) {  // 0..8 of these need one channel
        EXPECT_EQ(image.DetectEdge(method), image.m_pImage);
        EXPECT_EQ(image.GetChannels(), 3);
        EXPECT_EQ(image.GetRed(1, 1), 9);
        EXPECT_EQ(image.GetRed(0, 0), 0);
    }
    CSvImage canny;
    Fill1(canny, std::vector<std::vector<int>>(6, {0, 0, 0, 200, 200, 200}));
    canny.DetectEdge(8);
    for (const auto& row : Rows1(canny)) {
        EXPECT_EQ(row[0], 0);
        EXPECT_EQ(row[5], 0);
        EXPECT_EQ(row[2] + row[3], 255);  // one edge pixel at the step
    }
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
    EXPECT_EQ(RunCommand("/usr/bin/identify -format '%m %w %h %z %[channels]' '" + path + "'"),
              "BMP3 5 3 8 srgb");
    // ImageMagick's own reading: red, green, blue bytes, top row first.
    const std::string rgb = RunCommand("/usr/bin/convert '" + path + "' -depth 8 rgb:-");
    ASSERT_EQ(rgb.size(), 5u * 3u * 3u);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            const size_t at = (y * 5 + x) * 3;
            EXPECT_EQ(static_cast<uint8_t>(rgb[at]), 7 + x + y);
            EXPECT_EQ(static_cast<uint8_t>(rgb[at + 1]), y * 100);
            EXPECT_EQ(static_cast<uint8_t>(rgb[at + 2]), x * 40);
        }
    }
    // The header says 24 bits per pixel (offset 28).
    std::ifstream file(path, std::ios::binary);
    std::vector<char> header(30);
    file.read(header.data(), 30);
    EXPECT_EQ(header[28], 24);

    CSvImage loaded;
    ASSERT_EQ(loaded.Load(path), 1);
    EXPECT_EQ(loaded.GetChannels(), 3);
    EXPECT_EQ(loaded.GetRowStep(), 16);
    EXPECT_EQ(loaded.GetBlue(4, 2), 160);
    EXPECT_EQ(loaded.GetRed(4, 2), 13);
    std::remove(path.c_str());
}

TEST(SvImage, LoadAlwaysGivesThreeChannels) {
    const std::string path = TempPath("gray.png");
    ASSERT_EQ(RunCommand("/usr/bin/convert -size 3x2 xc:'gray(50)' -type Grayscale '" + path +
                         "' && echo ok"),
              "ok\n");
    CSvImage image;
    ASSERT_EQ(image.Load(path), 1);
    EXPECT_EQ(image.GetChannels(), 3);
    EXPECT_EQ(image.GetWidth(), 3);
    EXPECT_EQ(image.GetGreen(2, 1), 50);
    std::remove(path.c_str());
}

TEST(SvImage, LoadOfAMissingFileEmptiesTheContainerAndSaysWhy) {
    CSvImage image;
    image.Create(2, 2, 3);
    EXPECT_EQ(image.Load(TempPath("no-such-file.bmp")), 0);
    EXPECT_EQ(image.HasImage(), 0);
    EXPECT_EQ(image.m_pImage, nullptr);
    EXPECT_NE(image.GetLastError().find("no-such-file.bmp"), std::string::npos);
}

TEST(SvImage, FailedSaveReportsAndLeavesNoFile) {
    CSvImage image;
    image.Create(4, 4, 3);
    const std::string missingDir = TempPath("missing-dir") + "/capture.bmp";
    EXPECT_EQ(image.Save(missingDir), 0);
    EXPECT_NE(image.GetLastError().find("cannot open"), std::string::npos);
    const std::string noFormat = TempPath("capture.nosuchformat");
    EXPECT_EQ(image.Save(noFormat), 0);
    EXPECT_FALSE(FileExists(noFormat));
    EXPECT_EQ(image.Save(TempPath("no-extension")), 0);
    EXPECT_EQ(image.HasImage(), 1);  // the image itself is kept
    // A write that fails part-way (a device that is always full) leaves nothing behind.
    const std::string full = TempPath("full.bmp");
    ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
    EXPECT_EQ(image.Save(full), 0);
    EXPECT_NE(image.GetLastError().find("cannot write"), std::string::npos);
    EXPECT_FALSE(FileExists(full));
    unlink(full.c_str());
}

TEST(SvImage, DrawingScalesIntoTheRectangleAndClipsToTheCanvas) {
    CSvImage image;
    image.Create(2, 1, 3);
    SetBgr(image, 0, 0, 1, 2, 3);
    SetBgr(image, 1, 0, 4, 5, 6);
    cv::Mat canvas(3, 5, CV_8UC4, cv::Scalar(9, 9, 9, 9));
    image.DrawToRect(canvas, CSvRect{0, 0, 4, 2});  // 2 x 1 to 4 x 2
    const cv::Vec4b first(1, 2, 3, 255), second(4, 5, 6, 255), untouched(9, 9, 9, 9);
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(canvas.at<cv::Vec4b>(y, 0), first);
        EXPECT_EQ(canvas.at<cv::Vec4b>(y, 1), first);
        EXPECT_EQ(canvas.at<cv::Vec4b>(y, 2), second);
        EXPECT_EQ(canvas.at<cv::Vec4b>(y, 3), second);
        EXPECT_EQ(canvas.at<cv::Vec4b>(y, 4), untouched);
    }
    EXPECT_EQ(canvas.at<cv::Vec4b>(2, 0), untouched);

    image.Show(canvas, 4, 2);  // unscaled, only its first pixel is on the canvas
    EXPECT_EQ(canvas.at<cv::Vec4b>(2, 4), first);
    EXPECT_EQ(canvas.at<cv::Vec4b>(2, 3), untouched);
    image.Show(nullptr, 0, 0);
    image.DrawToRect(canvas, CSvRect{3, 3, 1, 1});  // inverted: nothing drawn
    image.Show(canvas, -10, -10);                   // entirely off the canvas

    CSvImage gray;
    Fill1(gray, {{77}});
    gray.Show(canvas, 0, 2);
    EXPECT_EQ(canvas.at<cv::Vec4b>(2, 0), cv::Vec4b(77, 77, 77, 255));
}
