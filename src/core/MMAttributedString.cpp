#include "core/MMAttributedString.h"

#include <QRegularExpression>

#include <algorithm>
#include <climits>

namespace {

bool covers(const MMAttributedString::Run& run, qsizetype position)
{
    return position >= run.location && position - run.location < run.length;
}

} // namespace

MMAttributedString::MMAttributedString(const QString& string)
    : m_string(string)
{
}

std::optional<MMAttributedString> MMAttributedString::mm_attributedStringWithString(
    const QString& string, const std::optional<QFont>& font, const std::optional<QColor>& color)
{
    if (string.isEmpty() || !font || !color)
        return std::nullopt;
    MMAttributedString attributed(string);
    attributed.mm_updateWithFontColor(font, color);
    return attributed;
}

std::optional<MMAttributedString> MMAttributedString::mm_mutableAttributedStringWithString(
    const QString& string, const std::optional<QFont>& font, const std::optional<QColor>& color)
{
    return mm_attributedStringWithString(string, font, color);
}

void MMAttributedString::mm_updateWithFontColorRange(const std::optional<QFont>& font,
    const std::optional<QColor>& color, qsizetype location, qsizetype length)
{
    if ((!font && !color) || length <= 0 || location >= m_string.size())
        return;
    // Clip to the text without overflow: a range may come from anywhere.
    qsizetype begin = location;
    qsizetype end = 0;
    if (location < 0) {
        end = length + location;
        begin = 0;
        if (end <= 0)
            return;
        end = std::min(end, m_string.size());
    } else {
        end = length > m_string.size() - location ? m_string.size() : location + length;
    }
    m_runs.append(Run { begin, end - begin, font, color });
}

void MMAttributedString::mm_updateWithFontColor(
    const std::optional<QFont>& font, const std::optional<QColor>& color)
{
    mm_updateWithFontColorRange(font, color, 0, m_string.size());
}

void MMAttributedString::mm_updateWithFontColorPattern(
    const std::optional<QFont>& font, const std::optional<QColor>& color, const QString& pattern)
{
    const QRegularExpression expression(pattern, QRegularExpression::CaseInsensitiveOption);
    if (!expression.isValid())
        return;
    QRegularExpressionMatchIterator matches = expression.globalMatch(m_string);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        mm_updateWithFontColorRange(font, color, match.capturedStart(), match.capturedLength());
    }
}

std::optional<QFont> MMAttributedString::fontAt(qsizetype position) const
{
    for (auto run = m_runs.crbegin(); run != m_runs.crend(); ++run) {
        if (run->font && covers(*run, position))
            return run->font;
    }
    return std::nullopt;
}

std::optional<QColor> MMAttributedString::colorAt(qsizetype position) const
{
    for (auto run = m_runs.crbegin(); run != m_runs.crend(); ++run) {
        if (run->color && covers(*run, position))
            return run->color;
    }
    return std::nullopt;
}

QList<QTextLayout::FormatRange> MMAttributedString::formats() const
{
    QList<QTextLayout::FormatRange> ranges;
    for (const Run& run : m_runs) {
        QTextLayout::FormatRange range;
        range.start = static_cast<int>(std::min<qsizetype>(run.location, INT_MAX));
        range.length = static_cast<int>(std::min<qsizetype>(run.length, INT_MAX - range.start));
        if (run.font)
            range.format.setFont(*run.font);
        if (run.color)
            range.format.setForeground(*run.color);
        ranges.append(range);
    }
    return ranges;
}
