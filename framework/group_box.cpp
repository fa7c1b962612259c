#include "framework/group_box.h"

#include <QGroupBox>

namespace fw {

TGroupBox::TGroupBox(TComponent* AOwner) : TControl(AOwner, new QGroupBox) {}

QGroupBox* TGroupBox::GroupBox() const {
    return static_cast<QGroupBox*>(Widget());
}

void TGroupBox::SetCaption(const std::string& value) {
    TControl::SetCaption(value);
    GroupBox()->setTitle(QString::fromStdString(value));
}

}  // namespace fw
