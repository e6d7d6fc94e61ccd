#include "core/MMButton.h"

#include <QAbstractButton>
#include <QCheckBox>

bool MMButton::mm_isOn(const QAbstractButton& button)
{
    // A check box in its third, partial state is checked to Qt but not on.
    if (const auto* box = qobject_cast<const QCheckBox*>(&button))
        return box->checkState() == Qt::Checked;
    return button.isChecked();
}

void MMButton::setMm_isOn(QAbstractButton& button, bool on)
{
    button.setChecked(on);
}
