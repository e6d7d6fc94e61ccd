#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QString>
#include <QTextLayout>

#include <optional>

// A text with fonts and colours over ranges of it (UTF-16 positions). Later styling wins
// where ranges overlap. formats() hands the styling to QTextLayout or QTextCursor.
class MMAttributedString {
public:
    struct Run {
        qsizetype location = 0;
        qsizetype length = 0;
        std::optional<QFont> font;
        std::optional<QColor> color;
    };

    explicit MMAttributedString(const QString& string = QString());

    // The whole text in the font and colour; nullopt unless the text is not empty and
    // both are given.
    static std::optional<MMAttributedString> mm_attributedStringWithString(
        const QString& string, const std::optional<QFont>& font, const std::optional<QColor>& color);
    // The same text, to be styled further.
    static std::optional<MMAttributedString> mm_mutableAttributedStringWithString(
        const QString& string, const std::optional<QFont>& font, const std::optional<QColor>& color);

    // Sets the font and/or colour, whichever is given, over the range; the part of the
    // range outside the text is ignored.
    void mm_updateWithFontColorRange(const std::optional<QFont>& font, const std::optional<QColor>& color,
        qsizetype location, qsizetype length);
    // The same over the whole text.
    void mm_updateWithFontColor(const std::optional<QFont>& font, const std::optional<QColor>& color);
    // The same over every case-insensitive match of the regular expression; a pattern that
    // does not compile changes nothing.
    void mm_updateWithFontColorPattern(
        const std::optional<QFont>& font, const std::optional<QColor>& color, const QString& pattern);

    QString string() const { return m_string; }
    qsizetype length() const { return m_string.size(); }
    const QList<Run>& runs() const { return m_runs; }
    std::optional<QFont> fontAt(qsizetype position) const;
    std::optional<QColor> colorAt(qsizetype position) const;
    // The runs as character formats, in the order they were applied.
    QList<QTextLayout::FormatRange> formats() const;

private:
    QString m_string;
    QList<Run> m_runs;
};
