#pragma once

class QAbstractButton;

// On/off state of a button. Only a checkable button holds a state; a button that is not
// checkable always reads as off and ignores being switched. A partly checked box is not on.
class MMButton {
public:
    static bool mm_isOn(const QAbstractButton& button);
    static void setMm_isOn(QAbstractButton& button, bool on);
};
