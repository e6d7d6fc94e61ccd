#pragma once

// Reads structured values from a fuzz input, front to back. Past the end
// every read gives zero or empty, so any input is a complete description.

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <cstring>

namespace fuzz {

class InputReader {
public:
    explicit InputReader(const QByteArray& input)
        : input_(input)
    {
    }

    bool atEnd() const { return at_ >= input_.size(); }

    uchar byte() { return atEnd() ? 0 : static_cast<uchar>(input_[at_++]); }

    qint64 integer()
    {
        quint64 value = 0;
        for (int i = 0; i < 8; ++i)
            value |= quint64(byte()) << (8 * i);
        return qint64(value);
    }

    double real()
    {
        const qint64 bits = integer();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // A length (two bytes, low first) and that many bytes.
    QByteArray bytes()
    {
        const qsizetype low = byte();
        const qsizetype length = low | qsizetype(byte()) << 8;
        const QByteArray taken = input_.mid(at_, length);
        at_ += taken.size();
        return taken;
    }

    QString text() { return QString::fromUtf8(bytes()); }

    // A value of a kind the settings stores hold: nothing, a boolean, an
    // integer (small or of any size), a real, a text, or up to three entries
    // of a list or dictionary, nested at most `depth` levels.
    QVariant value(int depth = 2)
    {
        switch (byte() % 8) {
        case 0:
            return {};
        case 1:
            return QVariant(bool(byte() & 1));
        case 2:
            return QVariant(qlonglong(integer()));
        case 3:
            return QVariant(qlonglong(static_cast<signed char>(byte())));
        case 4:
            return QVariant(real());
        case 5:
            return QVariant(text());
        case 6: {
            QVariantList list;
            for (int n = byte() % 4; depth > 0 && n > 0; --n)
                list.append(value(depth - 1));
            return list;
        }
        default: {
            QVariantMap map;
            for (int n = byte() % 4; depth > 0 && n > 0; --n) {
                const QString key = text();
                map.insert(key, value(depth - 1));
            }
            return map;
        }
        }
    }

private:
    const QByteArray& input_;
    qsizetype at_ = 0;
};

} // namespace fuzz
