#include "core/MMColor.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <limits>

namespace {

constexpr double kComponentMax = 255.0;

double unitAlpha(double alpha)
{
    if (!(alpha >= 0))
        return 0;
    return std::min(alpha, 1.0);
}

int componentValue(int value)
{
    return std::clamp(value, 0, 255);
}

QColor fromComponents(double red, double green, double blue, double alpha)
{
    return QColor::fromRgbF(static_cast<float>(red), static_cast<float>(green), static_cast<float>(blue),
        static_cast<float>(unitAlpha(alpha)));
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

QColor MMColor::mm_colorWithHexString(const QString& text)
{
    return mm_colorWithHexStringAlpha(text, 1.0);
}

QColor MMColor::mm_colorWithHexStringAlpha(const QString& text, double alpha)
{
    static const QRegularExpression kPattern(QStringLiteral("^#[0-9a-fA-F]{6}$"));
    if (text.isEmpty() || !kPattern.match(text).hasMatch())
        return Qt::white;
    const auto pair = [&text](int at) { return hexValue(text.at(at)) * 16 + hexValue(text.at(at + 1)); };
    return fromComponents(pair(1) / kComponentMax, pair(3) / kComponentMax, pair(5) / kComponentMax, alpha);
}

QColor MMColor::mm_colorWithIntR(int r, int g, int b)
{
    return mm_colorWithIntRGBAlhpa(r, g, b, 1.0);
}

QColor MMColor::mm_colorWithIntRGBAlhpa(int r, int g, int b, double alpha)
{
    return fromComponents(componentValue(r) / kComponentMax, componentValue(g) / kComponentMax,
        componentValue(b) / kComponentMax, alpha);
}

QColor MMColor::mm_randomColor()
{
    // Pale: 61 to 100 per cent of each component.
    const auto component = [] { return (QRandomGenerator::global()->generate() % 40 + 61) / 100.0; };
    const double red = component();
    const double green = component();
    const double blue = component();
    return fromComponents(red, green, blue, 1.0);
}

QColor MMColor::colorFromInt(quint32 rgb)
{
    const float red = static_cast<float>((rgb >> 16) & 0xFF) / 255.0f;
    const float green = static_cast<float>((rgb >> 8) & 0xFF) / 255.0f;
    const float blue = static_cast<float>(rgb & 0xFF) / 255.0f;
    return QColor::fromRgbF(red, green, blue, 1.0f);
}

QColor MMColor::colorWithHex(const QString& text, double alpha)
{
    qsizetype at = 0;
    while (at < text.size() && text.at(at).isSpace())
        ++at;
    if (at + 2 < text.size() && text.at(at) == u'0' && (text.at(at + 1) == u'x' || text.at(at + 1) == u'X')
        && hexValue(text.at(at + 2)) >= 0)
        at += 2;
    if (at >= text.size() || hexValue(text.at(at)) < 0)
        return Qt::black;
    // A number too large for 32 bits reads as the largest one, as the scanner reports overflow.
    quint64 value = 0;
    for (; at < text.size() && hexValue(text.at(at)) >= 0; ++at)
        value = std::min<quint64>(
            value * 16 + static_cast<quint64>(hexValue(text.at(at))), std::numeric_limits<quint32>::max());
    return fromComponents(((value >> 16) & 0xFF) / kComponentMax, ((value >> 8) & 0xFF) / kComponentMax,
        (value & 0xFF) / kComponentMax, alpha);
}
