#include "core/AppStyle.h"

#include <QWidget>

const QColor AppStyle::kInk(0x1e, 0x24, 0x31);
const QColor AppStyle::kMuted(0x6b, 0x74, 0x88);
const QColor AppStyle::kLine(0xe3, 0xe7, 0xef);
const QColor AppStyle::kAccent(0x3b, 0x6d, 0xf2);
const QColor AppStyle::kAccentSoft(0xee, 0xf2, 0xfb);
const QColor AppStyle::kSurface(0xff, 0xff, 0xff);
const QColor AppStyle::kError(0xc0, 0x39, 0x2b);

QFont AppStyle::font(int pixelSize)
{
    QFont font;
    // The CJK family carries Latin, Chinese and Korean glyphs of one design.
    // Named first: a family the system lacks would be replaced by whatever
    // the font configuration offers for it, not by the next in the list.
    font.setFamilies({ QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK KR"),
        QStringLiteral("DejaVu Sans") });
    font.setPixelSize(pixelSize);
    return font;
}

QString AppStyle::windowStyleSheet()
{
    const auto c = [](const QColor& colour) { return colour.name(); };
    return QStringLiteral(
        "QWidget[appWindow=\"true\"], QMessageBox, QDialog { background: %1; }"
        "QLabel { color: %2; }"
        "QLabel[role=\"title\"] { font-size: 16px; font-weight: 600; }"
        "QLabel[role=\"muted\"] { color: %3; font-size: 12px; }"
        "QLabel[role=\"error\"] { color: %4; }"
        "QPushButton { background: %5; color: %6; border: none; border-radius: 6px; padding: 7px 16px;"
        " min-width: 64px; }"
        "QPushButton:hover { background: %7; }"
        "QPushButton:default, QPushButton[primary=\"true\"] { background: %6; color: #ffffff; }"
        "QPushButton:focus { outline: none; }"
        "QPushButton:disabled { background: %8; color: %3; }")
        .arg(c(kSurface), c(kInk), c(kMuted), c(kError), c(kAccentSoft), c(kAccent), QStringLiteral("#e2e9fa"),
            c(kLine));
}

void AppStyle::applyTo(QWidget* window)
{
    if (!window)
        return;
    window->setProperty("appWindow", true);
    window->setAttribute(Qt::WA_StyledBackground);
    window->setFont(font());
    window->setStyleSheet(windowStyleSheet());
}
