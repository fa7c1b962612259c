#include "framework/combo_box.h"

#include <QComboBox>
#include <algorithm>
#include <cctype>

#include "framework/application.h"

namespace fw {

TComboBox::TComboBox(TComponent* AOwner) : TControl(AOwner, new QComboBox) {
    ComboBox()->setEditable(false);
    QObject::connect(ComboBox(), &QComboBox::activated, ComboBox(), [this] {
        if (OnChange)
            CallGuarded(this, [this] { OnChange(this); });
    });
}

QComboBox* TComboBox::ComboBox() const {
    return static_cast<QComboBox*>(Widget());
}

void TComboBox::SetItems(const std::vector<std::string>& items) {
    ComboBox()->clear();
    for (const std::string& item : items)
        ComboBox()->addItem(QString::fromStdString(item));
    ComboBox()->setCurrentIndex(-1);
}

int TComboBox::ItemCount() const {
    return ComboBox()->count();
}

std::string TComboBox::Item(int index) const {
    return ComboBox()->itemText(index).toStdString();
}

int TComboBox::ItemIndex() const {
    return ComboBox()->currentIndex();
}

void TComboBox::SetItemIndex(int value) {
    ComboBox()->setCurrentIndex(value >= 0 && value < ItemCount() ? value : -1);
}

int TComboBox::IndexOf(const std::string& text) const {
    auto lower = [](unsigned char c) { return std::tolower(c); };
    for (int i = 0; i < ItemCount(); ++i) {
        const std::string item = Item(i);
        if (item.size() == text.size() &&
            std::equal(item.begin(), item.end(), text.begin(),
                       [&](char a, char b) { return lower(a) == lower(b); }))
            return i;
    }
    return -1;
}

std::string TComboBox::Text() const {
    return ItemIndex() < 0 ? std::string() : ComboBox()->currentText().toStdString();
}

}  // namespace fw
