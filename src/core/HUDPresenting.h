#pragma once

#include "core/ArtProgressHUD.h"

// The HUD calls for any class that inherits this: each forwards to the
// class-level call of ArtProgressHUD of the same name.
class HUDPresenting {
public:
    void art_showText(const QString& text) { ArtProgressHUD::showText(text); }
    void art_showInfoText(const QString& text) { ArtProgressHUD::showInfoText(text); }
    void art_showErrorText(const QString& text) { ArtProgressHUD::showErrorText(text); }
    void art_showSuccessText(const QString& text) { ArtProgressHUD::showSuccessText(text); }
    void art_showLoading() { art_showLoading(nullptr); }
    void art_showLoading(QWidget* view) { ArtProgressHUD::showLoading(view); }
    void art_dismissLoading() { ArtProgressHUD::dismissLoading(); }
    void art_showText(const QString& text, quint64 type, QWidget* inView)
    {
        ArtProgressHUD::showText(text, type, inView);
    }

protected:
    ~HUDPresenting() = default;
};
