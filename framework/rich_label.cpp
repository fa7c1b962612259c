#include "framework/rich_label.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QWidget>
#include <array>
#include <cmath>
#include <utility>

namespace fw {
namespace {

struct NamedColor {
    const char* name;
    QRgb rgb;
};

// The sixteen colours of the standard palette.
constexpr std::array<NamedColor, 16> kColors{{
    {"BLACK", 0x000000},
    {"MAROON", 0x800000},
    {"GREEN", 0x008000},
    {"OLIVE", 0x808000},
    {"NAVY", 0x000080},
    {"PURPLE", 0x800080},
    {"TEAL", 0x008080},
    {"GRAY", 0x808080},
    {"SILVER", 0xC0C0C0},
    {"RED", 0xFF0000},
    {"LIME", 0x00FF00},
    {"YELLOW", 0xFFFF00},
    {"BLUE", 0x0000FF},
    {"FUCHSIA", 0xFF00FF},
    {"AQUA", 0x00FFFF},
    {"WHITE", 0xFFFFFF},
}};

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// Applies one tag to the present look.
void ApplyTag(const std::string& tag, TRichRun& look) {
    const std::string t = Upper(tag);
    if (t == "DEF") {
        look.Style.reset();
        look.Color.reset();
        return;
    }
    for (const NamedColor& c : kColors) {
        if (t == c.name) {
            look.Color = QColor::fromRgb(c.rgb);
            return;
        }
    }
    TFontStyles style;
    for (char c : t) {
        if (c == 'B')
            style.Include(fsBold);
        if (c == 'I')
            style.Include(fsItalic);
        if (c == 'U')
            style.Include(fsUnderline);
        if (c == 'S')
            style.Include(fsStrikeOut);
    }
    look.Style = style;
}

void Append(std::vector<TRichRun>& runs, const TRichRun& look, std::string text) {
    if (text.empty())
        return;
    if (!runs.empty() && runs.back().Style == look.Style && runs.back().Color == look.Color) {
        runs.back().Text += text;
        return;
    }
    runs.push_back({std::move(text), look.Style, look.Color});
}

}  // namespace

std::vector<TRichRun> ParseRichText(const std::string& text, const TacTextStyle& style) {
    std::vector<TRichRun> runs;
    TRichRun look;
    if (style.PlainText) {
        Append(runs, look, text);
        return runs;
    }
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t open = text.find(style.TagOpen, pos);
        const size_t close =
            open == std::string::npos ? std::string::npos : text.find(style.TagClose, open + 1);
        if (close == std::string::npos) {
            Append(runs, look, text.substr(pos));
            break;
        }
        Append(runs, look, text.substr(pos, open - pos));
        ApplyTag(text.substr(open + 1, close - open - 1), look);
        pos = close + 1;
    }
    return runs;
}

std::string RichTextPlain(const std::string& text, const TacTextStyle& style) {
    std::string plain;
    for (const TRichRun& run : ParseRichText(text, style))
        plain += run.Text;
    return plain;
}

class TRichLabel::RichLabelWidget : public QWidget {
public:
    explicit RichLabelWidget(TRichLabel* label) : label_(label) {}
    TRichLabel* label_;

protected:
    void paintEvent(QPaintEvent*) override {
        if (!label_)
            return;
        QPainter painter(this);
        QAbstractTextDocumentLayout::PaintContext context;
        context.palette = palette();
        context.palette.setColor(QPalette::Text, palette().color(QPalette::WindowText));
        label_->Document().documentLayout()->draw(&painter, context);
    }
    void changeEvent(QEvent* e) override {
        QWidget::changeEvent(e);
        if (label_ && e->type() == QEvent::FontChange) {
            label_->Rebuild();
            label_->Relayout();
        }
    }
};

TRichLabel::TRichLabel(TComponent* AOwner)
    : TControl(AOwner, new RichLabelWidget(this)), document_(new QTextDocument(Widget())) {
    document_->setDocumentMargin(0);
    document_->setUndoRedoEnabled(false);
    Relayout();
}

TRichLabel::~TRichLabel() {
    if (auto* w = static_cast<RichLabelWidget*>(Widget()))
        w->label_ = nullptr;
}

QTextDocument& TRichLabel::Document() const {
    return *document_;
}

void TRichLabel::SetCaption(const std::string& value) {
    TControl::SetCaption(value);
    Rebuild();
    Relayout();
}

void TRichLabel::SetTextStyle(const TacTextStyle& value) {
    if (value == textStyle_)
        return;
    textStyle_ = value;
    Rebuild();
    Relayout();
}

void TRichLabel::SetPlainText(bool value) {
    TacTextStyle s = textStyle_;
    s.PlainText = value;
    SetTextStyle(s);
}

void TRichLabel::SetTagOpen(char value) {
    TacTextStyle s = textStyle_;
    s.TagOpen = value;
    SetTextStyle(s);
}

void TRichLabel::SetTagClose(char value) {
    TacTextStyle s = textStyle_;
    s.TagClose = value;
    SetTextStyle(s);
}

void TRichLabel::SetWordWrap(bool value) {
    wordWrap_ = value;
    Relayout();
}

void TRichLabel::SetAutoSize(bool value) {
    autoSize_ = value;
    Relayout();
}

std::string TRichLabel::PlainCaption() const {
    return RichTextPlain(Caption(), textStyle_);
}

void TRichLabel::Rebuild() {
    document_->clear();
    document_->setDefaultFont(Widget()->font());
    QTextCursor cursor(document_);
    const QFont base = Widget()->font();
    TFontStyles baseStyle;
    if (base.bold())
        baseStyle.Include(fsBold);
    if (base.italic())
        baseStyle.Include(fsItalic);
    if (base.underline())
        baseStyle.Include(fsUnderline);
    if (base.strikeOut())
        baseStyle.Include(fsStrikeOut);
    for (const TRichRun& run : ParseRichText(Caption(), textStyle_)) {
        QTextCharFormat format;
        const TFontStyles style = run.Style.value_or(baseStyle);
        format.setFontWeight(style.Contains(fsBold) ? QFont::Bold : QFont::Normal);
        format.setFontItalic(style.Contains(fsItalic));
        format.setFontUnderline(style.Contains(fsUnderline));
        format.setFontStrikeOut(style.Contains(fsStrikeOut));
        if (run.Color)
            format.setForeground(*run.Color);
        // A CR LF pair is one line break; a lone CR breaks the line too.
        QString text = QString::fromStdString(run.Text);
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        cursor.insertText(text, format);
    }
}

void TRichLabel::Relayout() {
    QTextOption option = document_->defaultTextOption();
    option.setWrapMode(wordWrap_ ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    document_->setDefaultTextOption(option);
    document_->setTextWidth(wordWrap_ ? Width() : -1);
    if (autoSize_) {
        const int w = wordWrap_ ? Width() : NaturalWidth();
        TControl::SetBounds(Left(), Top(), w, TextHeight());
    }
    Widget()->update();
}

void TRichLabel::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    const bool relayout = AWidth != Width();
    TControl::SetBounds(ALeft, ATop, AWidth, AHeight);
    if (relayout || autoSize_)
        Relayout();
}

int TRichLabel::NaturalWidth() const {
    document_->documentLayout();  // lays the text out when it has not been yet
    qreal widest = 0;
    for (QTextBlock b = document_->begin(); b.isValid(); b = b.next()) {
        const QTextLayout* layout = b.layout();
        if (!layout)
            continue;
        for (int i = 0; i < layout->lineCount(); ++i)
            widest = std::max(widest, layout->lineAt(i).naturalTextWidth());
    }
    return static_cast<int>(std::ceil(widest));
}

int TRichLabel::TextHeight() const {
    return static_cast<int>(std::ceil(document_->size().height()));
}

}  // namespace fw
