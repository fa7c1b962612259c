#include "framework/check_box.h"

#include <QCheckBox>

#include "framework/application.h"

namespace fw {

TCheckBox::TCheckBox(TComponent* AOwner) : TControl(AOwner, new QCheckBox) {
    // `clicked` comes from the user (mouse or keyboard), never from SetChecked.
    QObject::connect(CheckBox(), &QCheckBox::clicked, CheckBox(),
                     [this] { CallGuarded(this, [this] { Click(); }); });
}

QCheckBox* TCheckBox::CheckBox() const {
    return static_cast<QCheckBox*>(Widget());
}

void TCheckBox::SetCaption(const std::string& value) {
    TControl::SetCaption(value);
    CheckBox()->setText(QString::fromStdString(value));
}

bool TCheckBox::Checked() const {
    return CheckBox()->isChecked();
}

void TCheckBox::SetChecked(bool value) {
    CheckBox()->setChecked(value);
}

}  // namespace fw
