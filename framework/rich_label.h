#pragma once
// TRichLabel: a label whose caption carries a small markup of tags between
// two tag characters ("[" and "]" by default). A tag is compared in capitals:
//   "DEF"                   the label's own font style and colour again
//   a colour name           text colour: BLACK, MAROON, GREEN, OLIVE, NAVY,
//                           PURPLE, TEAL, GRAY, SILVER, RED, LIME, YELLOW,
//                           BLUE, FUCHSIA, AQUA, WHITE
//   anything else           clears the font style, then adds bold for each
//                           "B", italic for "I", underline for "U" and
//                           strikeout for "S" in it: "[b]" bold, "[]" plain
// An opening character without a closing one after it is plain text. With
// PlainText set the caption is shown as it is. Line breaks (CR LF or LF) break
// lines; with WordWrap long lines wrap at the label's width.
//
// NaturalWidth is the width the laid-out text really takes: its widest line
// when wrapped at the label's present width. AutoSize makes the label's
// height follow its text (and, without WordWrap, its width too).
//
// Threads: main thread only.

#include <QColor>
#include <optional>
#include <string>
#include <vector>

#include "framework/controls.h"
#include "framework/sets.h"

class QTextDocument;

namespace fw {

// The markup settings of a rich label.
struct TacTextStyle {
    bool PlainText = false;
    char TagOpen = '[';
    char TagClose = ']';
    bool operator==(const TacTextStyle&) const = default;
};

enum class TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using enum TFontStyle;
using TFontStyles = TSet<TFontStyle>;

// A piece of text in one look; an empty optional means the label's own.
struct TRichRun {
    std::string Text;
    std::optional<TFontStyles> Style;
    std::optional<QColor> Color;
    bool operator==(const TRichRun&) const = default;
};

// The caption cut into runs; adjacent text in the same look is one run, and
// runs without text are dropped.
std::vector<TRichRun> ParseRichText(const std::string& text, const TacTextStyle& style);
// The caption as it reads, without its tags.
std::string RichTextPlain(const std::string& text, const TacTextStyle& style);

class TRichLabel : public TControl {
public:
    explicit TRichLabel(TComponent* AOwner);
    ~TRichLabel() override;

    void SetCaption(const std::string& value) override;

    const TacTextStyle& TextStyle() const { return textStyle_; }
    void SetTextStyle(const TacTextStyle& value);
    bool PlainText() const { return textStyle_.PlainText; }
    void SetPlainText(bool value);
    char TagOpen() const { return textStyle_.TagOpen; }
    void SetTagOpen(char value);
    char TagClose() const { return textStyle_.TagClose; }
    void SetTagClose(char value);

    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool value);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool value);

    // The caption without its tags.
    std::string PlainCaption() const;
    // The widest laid-out line in pixels (rounded up).
    int NaturalWidth() const;
    // The height of the laid-out text in pixels (rounded up).
    int TextHeight() const;

    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;

private:
    class RichLabelWidget;
    friend class RichLabelWidget;
    void Rebuild();
    void Relayout();
    QTextDocument& Document() const;

    TacTextStyle textStyle_;
    bool wordWrap_ = false;
    bool autoSize_ = false;
    QTextDocument* document_;
};

}  // namespace fw
