// Chinese and Korean text must come out as letters, not as empty boxes: the
// fonts the windows use (the application font, with the sizes and weights
// the speech and tip windows set) must reach glyphs for both scripts, through
// the system's font fallback. A machine without a CJK font fails here.
#include "core/LGNLocalizedString.h"

#include <QApplication>
#include <QFont>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextLayout>

#include <gtest/gtest.h>

namespace {

struct Missing {
    QStringList families; // the fonts the text was laid out in
    int glyphs = 0; // how many came out as the "no glyph" box
};

Missing missingGlyphs(const QString& text, const QFont& font)
{
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    Missing missing;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        missing.families << run.rawFont().familyName();
        for (quint32 glyph : run.glyphIndexes())
            missing.glyphs += glyph == 0 ? 1 : 0; // glyph 0 is the box drawn for "not in this font"
    }
    return missing;
}

QList<QFont> fontsTheWindowsUse()
{
    QFont application = QApplication::font();
    QFont speechLabel = application;
    speechLabel.setPixelSize(13);
    speechLabel.setBold(true);
    QFont speechText = application;
    speechText.setPixelSize(16);
    QFont tip = application;
    tip.setPixelSize(14);
    return { application, speechLabel, speechText, tip };
}

TEST(CjkGlyphs, ChineseAndKoreanTextRenderWithRealGlyphs)
{
    const QStringList texts {
        QStringLiteral("今天天气很好。请说话，我在听"), // simplified Chinese, as dictated
        QStringLiteral("繁體中文的句子"), // traditional Chinese
        QStringLiteral("안녕하세요, 음성 입력을 시작합니다"), // Korean
        // The Korean interface's own texts.
        LGNLocalizedString::lookup(QStringLiteral("打开主页"), QStringLiteral("ko")),
        LGNLocalizedString::lookup(QStringLiteral("退出"), QStringLiteral("ko")),
    };
    ASSERT_NE(texts[3], QStringLiteral("打开主页")) << "the Korean string table was not found";
    for (const QFont& font : fontsTheWindowsUse()) {
        for (const QString& text : texts) {
            const Missing missing = missingGlyphs(text, font);
            EXPECT_EQ(missing.glyphs, 0) << text.toStdString() << " in " << font.toString().toStdString()
                                         << " laid out in " << missing.families.join(u", ").toStdString();
        }
    }
}

} // namespace
