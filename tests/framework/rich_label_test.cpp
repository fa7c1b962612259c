// The rich label: its markup as a table of cases, the text without markup,
// what it really draws, and the width and height it reports for layouts.
#include "framework/rich_label.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QWidget>

namespace fw {
namespace {

using Runs = std::vector<TRichRun>;
const std::optional<TFontStyles> kOwn;
const std::optional<QColor> kOwnColor;
TFontStyles S(std::initializer_list<TFontStyle> s) {
    return TFontStyles(s);
}

struct MarkupCase {
    const char* name;
    std::string text;
    TacTextStyle style;
    Runs runs;
};

class MarkupTest : public ::testing::TestWithParam<MarkupCase> {};

TEST_P(MarkupTest, ParsesIntoRuns) {
    const MarkupCase& c = GetParam();
    const Runs runs = ParseRichText(c.text, c.style);
    ASSERT_EQ(runs.size(), c.runs.size());
    for (size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].Text, c.runs[i].Text) << "run " << i;
        EXPECT_EQ(runs[i].Style, c.runs[i].Style) << "run " << i;
        EXPECT_EQ(runs[i].Color, c.runs[i].Color) << "run " << i;
    }
}

const QColor kRed = QColor::fromRgb(0xFF0000);
const QColor kNavy = QColor::fromRgb(0x000080);
const QColor kLime = QColor::fromRgb(0x00FF00);
const QColor kMaroon = QColor::fromRgb(0x800000);

INSTANTIATE_TEST_SUITE_P(
    Cases, MarkupTest,
    ::testing::Values(
        MarkupCase{"Plain", "Hello", {}, {{"Hello", kOwn, kOwnColor}}},
        MarkupCase{
            "BoldThenPlainAgain",
            "a[b]bold[]c",
            {},
            {{"a", kOwn, kOwnColor}, {"bold", S({fsBold}), kOwnColor}, {"c", S({}), kOwnColor}}},
        MarkupCase{"EveryStyleLetterInOneTag",
                   "[bius]x",
                   {},
                   {{"x", S({fsBold, fsItalic, fsUnderline, fsStrikeOut}), kOwnColor}}},
        MarkupCase{"ATagReplacesTheStyleItDoesNotAdd",
                   "[b]x[i]y",
                   {},
                   {{"x", S({fsBold}), kOwnColor}, {"y", S({fsItalic}), kOwnColor}}},
        MarkupCase{"ColourKeepsStyleAndCaseDoesNotMatter",
                   "[B][Navy]x[lime]y",
                   {},
                   {{"x", S({fsBold}), kNavy}, {"y", S({fsBold}), kLime}}},
        MarkupCase{"DefRestoresOwnStyleAndColour",
                   "[red][u]x[DEF]y",
                   {},
                   {{"x", S({fsUnderline}), kRed}, {"y", kOwn, kOwnColor}}},
        MarkupCase{"UnknownTagClearsStyleKeepsColour",
                   "[maroon][b]x[hello]y",
                   {},
                   {{"x", S({fsBold}), kMaroon}, {"y", S({}), kMaroon}}},
        MarkupCase{"UnknownTagLettersStillCount",
                   "[sub]x",
                   {},
                   {{"x", S({fsStrikeOut, fsUnderline, fsBold}), kOwnColor}}},
        MarkupCase{"UnclosedOpenIsText", "a[b", {}, {{"a[b", kOwn, kOwnColor}}},
        MarkupCase{"UnclosedAfterATag", "[i]a[b", {}, {{"a[b", S({fsItalic}), kOwnColor}}},
        MarkupCase{"CloseWithoutOpenIsText", "a]b", {}, {{"a]b", kOwn, kOwnColor}}},
        MarkupCase{"OnlyTagsGiveNoRuns", "[b][]", {}, {}},
        MarkupCase{"PlainTextShowsTags", "[b]x", {true, '[', ']'}, {{"[b]x", kOwn, kOwnColor}}},
        MarkupCase{"OwnTagCharacters",
                   "<b>x[b]<>y",
                   {false, '<', '>'},
                   {{"x[b]", S({fsBold}), kOwnColor}, {"y", S({}), kOwnColor}}},
        MarkupCase{"LineBreaksStayInTheText",
                   "One\r\n[b]Two",
                   {},
                   {{"One\r\n", kOwn, kOwnColor}, {"Two", S({fsBold}), kOwnColor}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RichTextPlain, RemovesEveryTagAndKeepsTheRest) {
    EXPECT_EQ(RichTextPlain("Quilvane\r\nVersion [b]1.0[DEF] [red]([])\r\n[x", {}),
              "Quilvane\r\nVersion 1.0 ()\r\n[x");
    EXPECT_EQ(RichTextPlain("[b]kept", {true, '[', ']'}), "[b]kept");
}

QImage Draw(TRichLabel& label) {
    return label.Widget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int CountPixels(const QImage& image, QRgb rgb) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (rgb & 0xFFFFFF))
                ++n;
    return n;
}

TEST(RichLabel, DrawsColoursAndBoldAsTheMarkupSays) {
    TRichLabel label(nullptr);
    label.SetBounds(0, 0, 200, 20);
    label.SetWordWrap(true);
    label.SetCaption("[red]MMMM[]MMMM");
    const QImage red = Draw(label);
    EXPECT_GT(CountPixels(red, 0xFF0000), 10);
    label.SetCaption("MMMMMMMM");
    EXPECT_EQ(CountPixels(Draw(label), 0xFF0000), 0);

    const int plain = label.NaturalWidth();
    label.SetCaption("[b]MMMMMMMM");
    EXPECT_GT(label.NaturalWidth(), plain);
    label.SetPlainText(true);
    EXPECT_GT(label.NaturalWidth(), plain) << "the tag itself is text now";
    EXPECT_EQ(label.PlainCaption(), "[b]MMMMMMMM");
}

TEST(RichLabel, NaturalWidthIsTheWidestWrappedLineAndKeepsTheWrapping) {
    TRichLabel label(nullptr);
    label.SetBounds(0, 0, 299, 10);
    label.SetWordWrap(true);
    label.SetAutoSize(true);
    const QFontMetrics fm(label.Widget()->font());

    label.SetCaption("Short");
    EXPECT_NEAR(label.NaturalWidth(), fm.horizontalAdvance("Short"), 1);
    EXPECT_EQ(label.Width(), 299) << "AutoSize with WordWrap keeps the width";
    const int oneLine = label.Height();
    EXPECT_GE(oneLine, fm.height() - 1);

    label.SetCaption("Two\r\nlines, the second one longer");
    EXPECT_NEAR(label.NaturalWidth(), fm.horizontalAdvance("lines, the second one longer"), 1);
    EXPECT_EQ(label.Height(), label.TextHeight());
    EXPECT_GT(label.Height(), oneLine);

    std::string longText;
    for (int i = 0; i < 40; ++i)
        longText += "word ";
    label.SetCaption(longText);
    const int natural = label.NaturalWidth();
    const int height = label.Height();
    EXPECT_LE(natural, 299);
    EXPECT_GT(natural, 250);
    EXPECT_GT(height, 3 * oneLine);
    // Narrowed to its natural width, the text wraps exactly as before.
    label.SetWidth(natural);
    EXPECT_EQ(label.NaturalWidth(), natural);
    EXPECT_EQ(label.Height(), height);
}

}  // namespace
}  // namespace fw
