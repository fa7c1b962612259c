// Pictures from the program's resources and the JPEG decoder. The fixture's
// pictures are made by ImageMagick at build time and compiled into this test
// program as its resources (see CMakeLists.txt).
#include "framework/resource_images.h"

#include <gtest/gtest.h>

#include <QFile>

#include "framework/jpeg_image.h"
#include "platform/resource.h"

namespace fw {
namespace {

QByteArray Fixture(const char* name) {
    QFile file(QString(QUILVANE_FIXTURE_DIR) + "/" + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

QImage Decode(const QByteArray& bytes) {
    return DecodeJpeg(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// JPEG is lossy: a colour is right when each channel is within a few steps.
void ExpectColour(const QImage& image, int x, int y, QRgb want) {
    const QRgb got = image.pixel(x, y);
    EXPECT_NEAR(qRed(got), qRed(want), 12) << x << "," << y;
    EXPECT_NEAR(qGreen(got), qGreen(want), 12) << x << "," << y;
    EXPECT_NEAR(qBlue(got), qBlue(want), 12) << x << "," << y;
}

TEST(DecodeJpeg, DecodesRgbGreyAndCmykPicturesMadeByImageMagick) {
    // Left half red, right half blue, 64 x 48.
    const QImage rgb = Decode(Fixture("fixture_photo.jpg"));
    ASSERT_EQ(rgb.size(), QSize(64, 48));
    ExpectColour(rgb, 8, 24, qRgb(255, 0, 0));
    ExpectColour(rgb, 56, 24, qRgb(0, 0, 255));

    const QImage grey = Decode(Fixture("fixture_grey.jpg"));
    ASSERT_EQ(grey.size(), QSize(64, 48));
    ExpectColour(grey, 8, 24, qRgb(54, 54, 54));

    const QImage cmyk = Decode(Fixture("fixture_cmyk.jpg"));
    ASSERT_EQ(cmyk.size(), QSize(64, 48));
    ExpectColour(cmyk, 8, 24, qRgb(255, 0, 0));
    ExpectColour(cmyk, 56, 24, qRgb(0, 0, 255));
}

TEST(DecodeJpeg, DamagedOrForeignDataGivesNoImageAndACutFileWhatItHas) {
    const QByteArray jpeg = Fixture("fixture_photo.jpg");
    EXPECT_TRUE(Decode(QByteArray()).isNull());
    EXPECT_TRUE(Decode(QByteArray("not a picture at all")).isNull());
    EXPECT_TRUE(Decode(Fixture("fixture_bitmap.bmp")).isNull());
    EXPECT_TRUE(Decode(jpeg.left(20)).isNull()) << "the header itself is cut";
    // Cut in the middle of the picture data, after the headers.
    const qsizetype scan = jpeg.indexOf("\xFF\xDA");
    ASSERT_GT(scan, 0);
    const QImage cut = Decode(jpeg.left(scan + (jpeg.size() - scan) / 2));
    EXPECT_EQ(cut.size(), QSize(64, 48));
}

TEST(ResourceImages, FindByNameInAnyCaseOrByNumber) {
    const QImage icon = LoadIconResource("testico");
    ASSERT_EQ(icon.size(), QSize(16, 16));
    ExpectColour(icon, 8, 8, qRgb(255, 255, 0));
    EXPECT_EQ(LoadBitmapResource("#7").size(), QSize(8, 6));
    EXPECT_EQ(LoadBitmapResource("#007").size(), QSize(8, 6));
    const QImage photo = LoadJpegResource("#12");
    ASSERT_EQ(photo.size(), QSize(64, 48));
    ExpectColour(photo, 56, 24, qRgb(0, 0, 255));

    // By number through the platform call too.
    EXPECT_NE(win::FindResourceA(nullptr, win::MAKEINTRESOURCEA(7), win::RT_BITMAP()), nullptr);
}

TEST(ResourceImages, MissingOrWrongTypeGivesAnEmptyImage) {
    EXPECT_TRUE(LoadIconResource("NOSUCHICON").isNull());
    EXPECT_TRUE(LoadBitmapResource("TESTICO").isNull()) << "an icon is not a bitmap";
    EXPECT_TRUE(LoadJpegResource("#7").isNull());
    EXPECT_TRUE(LoadBitmapResource("").isNull());
    EXPECT_EQ(win::FindResourceA(nullptr, "NOSUCH", "JPG"), nullptr);
}

}  // namespace
}  // namespace fw
