#pragma once

#include <QString>

// One row of a sectioned language picker.
struct UWLanguageItem {
    UWLanguageItem(QString title, QString asrCode, QString transCode, QString abc, bool choose)
        : titleStr(std::move(title))
        , microAsrCode(std::move(asrCode))
        , microTransCode(std::move(transCode))
        , searchABC(std::move(abc))
        , isChoose(choose)
    {
    }

    QString titleStr;
    QString microAsrCode;
    QString microTransCode;
    QString searchABC;
    bool isChoose = false;
};
