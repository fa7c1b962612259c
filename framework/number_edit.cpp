#include "framework/number_edit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <algorithm>
#include <cmath>

#include "framework/application.h"
#include "framework/exceptions.h"

namespace fw {

class NumberLineEdit : public QLineEdit {
public:
    explicit NumberLineEdit(TNumberEdit* owner) : owner_(owner) {}
    void Release() { owner_ = nullptr; }

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (owner_ && Refused(*e)) {
            e->accept();
            QApplication::beep();
            return;
        }
        QLineEdit::keyPressEvent(e);
    }

    void focusInEvent(QFocusEvent* e) override {
        QLineEdit::focusInEvent(e);
        if (owner_)
            CallGuarded(owner_, [this] { owner_->Entered(); });
    }

    void focusOutEvent(QFocusEvent* e) override {
        QLineEdit::focusOutEvent(e);
        if (owner_)
            CallGuarded(owner_, [this] { owner_->Left(); });
    }

private:
    // A key that would type something other than a digit or Backspace.
    static bool Refused(const QKeyEvent& e) {
        switch (e.key()) {
            case Qt::Key_Backspace:
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Escape:
            case Qt::Key_Tab:
            case Qt::Key_Backtab:
            case Qt::Key_Delete:
                return false;
            default:
                break;
        }
        const QString text = e.text();
        if (text.isEmpty())
            return false;
        if (e.modifiers() & Qt::AltModifier)
            return true;  // an accelerator nothing took
        return !(text.size() == 1 && text[0] >= QLatin1Char('0') && text[0] <= QLatin1Char('9'));
    }

    TNumberEdit* owner_;
};

TNumberEdit::TNumberEdit(TComponent* AOwner) : TControl(AOwner, new NumberLineEdit(this)) {
    LineEdit()->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LineEdit()->setText(QString::fromStdString(FormatValue(value_)));
    QObject::connect(LineEdit(), &QLineEdit::textChanged, LineEdit(),
                     [this] { CallGuarded(this, [this] { TextChanged(); }); });
}

TNumberEdit::~TNumberEdit() {
    // The widget dies after this object, in TControl's destructor.
    if (auto* edit = dynamic_cast<NumberLineEdit*>(Widget()))
        edit->Release();
}

QLineEdit* TNumberEdit::LineEdit() const {
    return static_cast<QLineEdit*>(Widget());
}

std::string TNumberEdit::Text() const {
    return LineEdit()->text().toStdString();
}

void TNumberEdit::SetText(const std::string& value) {
    LineEdit()->setText(QString::fromStdString(value));
}

void TNumberEdit::SetValue(double value) {
    value_ = value;
    LineEdit()->setText(QString::fromStdString(FormatValue(value)));
}

std::string TNumberEdit::FormatValue(double value) {
    double whole = std::round(value);
    if (whole == 0)
        whole = 0;  // no "-0"
    return QString::number(whole, 'f', 0).toStdString();
}

double TNumberEdit::ReadValue(const std::string& text) {
    const QLocale locale = QLocale::system();
    QString plain = QString::fromStdString(text);
    plain.remove(locale.groupSeparator());
    bool ok = false;
    const double value = locale.toDouble(plain, &ok);
    if (!ok || !std::isfinite(value))
        throw EConvertError("'" + plain.toStdString() + "' is not a valid floating point value");
    return value;
}

void TNumberEdit::TextChanged() {
    const std::string text = Text();
    if (!text.empty() && text != "-") {
        const double previous = value_;
        try {
            value_ = ReadValue(text);
        } catch (const EConvertError&) {
            SetValue(previous);
            throw;
        }
    }
    if (OnChange)
        OnChange(this);
}

void TNumberEdit::Entered() {
    const int length = static_cast<int>(LineEdit()->text().size());
    const int selected = std::min(length, 2);
    LineEdit()->setSelection(length - selected, selected);
}

void TNumberEdit::Left() {
    const std::string text = Text();
    if (text.empty() || text == "-")
        SetText("0");
    double value = value_;
    try {
        value = ReadValue(Text());
    } catch (const EConvertError&) {
        // The change already restored a readable text; keep the value it left.
    }
    SetValue(value);
}

}  // namespace fw
