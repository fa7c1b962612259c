#include "framework/std_controls.h"

#include <QApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcutEvent>

#include "framework/application.h"
#include "framework/form.h"

namespace fw {
namespace {

TForm* FormOf(TControl* control) {
    for (TControl* c = control->Parent(); c; c = c->Parent())
        if (auto* form = dynamic_cast<TForm*>(c))
            return form;
    return nullptr;
}

// "&Add" shown without an accelerator: the marker goes, "&&" stays one "&".
QString StripAccelerator(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return QString::fromStdString(out);
}

// An edit box types nothing for Alt+key: such a key is meant for an
// accelerator, and one that nothing takes only beeps.
class AltKeyFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(e);
            if ((key->modifiers() & Qt::AltModifier) && !key->text().isEmpty()) {
                QApplication::beep();
                return true;
            }
        }
        return QObject::eventFilter(watched, e);
    }
};

// A button's accelerator presses it at once, as a click would, and leaves
// the focus where it was; Qt's own handling presses it only after a pause,
// and keys typed meanwhile would reach the control that had the focus. A
// letter shared by several buttons keeps Qt's handling: it only moves the
// focus between them.
class AcceleratorFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Shortcut && !static_cast<QShortcutEvent*>(e)->isAmbiguous()) {
            static_cast<QPushButton*>(watched)->click();
            return true;
        }
        return QObject::eventFilter(watched, e);
    }
};

}  // namespace

TButton::TButton(TComponent* AOwner) : TControl(AOwner, new QPushButton) {
    // Enter on a focused button presses that button; otherwise the key goes on
    // to the form, which presses its default button.
    Button()->setAutoDefault(true);
    Button()->installEventFilter(new AcceleratorFilter(Button()));
    QObject::connect(Button(), &QPushButton::clicked, Button(),
                     [this] { CallGuarded(this, [this] { Click(); }); });
}

QPushButton* TButton::Button() const {
    return static_cast<QPushButton*>(Widget());
}

void TButton::SetCaption(const std::string& value) {
    TControl::SetCaption(value);
    Button()->setText(QString::fromStdString(value));
}

void TButton::SetDefault(bool value) {
    default_ = value;
    Button()->setDefault(value);
    if (TForm* form = FormOf(this))
        form->SetDefaultButton(this, value);
}

void TButton::SetCancel(bool value) {
    cancel_ = value;
    if (TForm* form = FormOf(this))
        form->SetCancelButton(this, value);
}

void TButton::ParentChanged() {
    if (default_)
        SetDefault(true);
    if (cancel_)
        SetCancel(true);
}

void TButton::Click() {
    if (modalResult_ != mrNone)
        if (TForm* form = FormOf(this))
            form->SetModalResult(modalResult_);
    TControl::Click();
}

void TButton::SetGlyph(const QPixmap& glyph) {
    Button()->setIcon(QIcon(glyph));
    if (!glyph.isNull())
        Button()->setIconSize(glyph.size());
}

TLabel::TLabel(TComponent* AOwner) : TControl(AOwner, new QLabel) {}

QLabel* TLabel::Label() const {
    return static_cast<QLabel*>(Widget());
}

void TLabel::SetCaption(const std::string& value) {
    TControl::SetCaption(value);
    Update();
}

void TLabel::SetFocusControl(TControl* control) {
    if (focusControl_)
        RemoveFreeNotification(focusControl_);
    focusControl_ = control;
    if (control)
        FreeNotification(control);
    Update();
}

void TLabel::Notification(TComponent* AComponent, TOperation Operation) {
    TControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == focusControl_) {
        focusControl_ = nullptr;
        Update();
    }
}

void TLabel::Update() {
    // Qt shows the accelerator only for a label with a buddy.
    Label()->setBuddy(focusControl_ ? focusControl_->Widget() : nullptr);
    Label()->setText(focusControl_ ? QString::fromStdString(Caption())
                                   : StripAccelerator(Caption()));
}

TEdit::TEdit(TComponent* AOwner) : TControl(AOwner, new QLineEdit) {
    LineEdit()->installEventFilter(new AltKeyFilter(LineEdit()));
    QObject::connect(LineEdit(), &QLineEdit::textChanged, LineEdit(), [this] {
        if (OnChange)
            CallGuarded(this, [this] { OnChange(this); });
    });
}

QLineEdit* TEdit::LineEdit() const {
    return static_cast<QLineEdit*>(Widget());
}

std::string TEdit::Text() const {
    return LineEdit()->text().toStdString();
}

void TEdit::SetText(const std::string& value) {
    LineEdit()->setText(QString::fromStdString(value));
}

void TEdit::SetMaxLength(int value) {
    LineEdit()->setMaxLength(value > 0 ? value : 32767);
}

void TEdit::SetPasswordChar(char value) {
    LineEdit()->setEchoMode(value ? QLineEdit::Password : QLineEdit::Normal);
    // The style's own mask character (often a bullet) would stand in otherwise.
    LineEdit()->setStyleSheet(value ? QString("QLineEdit { lineedit-password-character: %1; }")
                                          .arg(static_cast<int>(static_cast<unsigned char>(value)))
                                    : QString());
}

void TEdit::SetReadOnly(bool value) {
    LineEdit()->setReadOnly(value);
}

}  // namespace fw
