#pragma once

#include <QByteArray>

#include <initializer_list>

// The reply frames the mouse sends, the same on its USB receiver and over
// Bluetooth LE: A5 5A, length, 54 (0B for the firmware report), reply code,
// payload.
namespace fakes::mouse_replies {

inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(quint8(v)));
    return out;
}

inline QByteArray deviceName(const QByteArray& name, quint8 major, quint8 minor)
{
    QByteArray out = bytes({ 0xA5, 0x5A, 0x00, 0x54, 0x0B }) + name + bytes({ major, minor, 0xFF });
    out[2] = char(quint8(out.size()));
    return out;
}

inline QByteArray serialAndLink(const QByteArray& serial, quint8 link)
{
    QByteArray out = bytes({ 0xA5, 0x5A, 0x14, 0x54, 0x06 }) + serial + QByteArray(7, '\0');
    out.append(char(link));
    out.append('\0');
    return out;
}

inline QByteArray serial(const QByteArray& serial)
{
    return bytes({ 0xA5, 0x5A, 0x0C, 0x54, 0x06 }) + serial + QByteArray(1, '\0');
}

inline QByteArray battery(quint16 raw)
{
    return bytes({ 0xA5, 0x5A, 0x09, 0x54, 0x06, raw & 0xFF, raw >> 8, 0x00, 0x00 });
}

inline QByteArray dpi(quint16 dpi)
{
    return bytes({ 0xA5, 0x5A, 0x08, 0x54, 0x04, dpi & 0xFF, dpi >> 8, 0x00 });
}

inline QByteArray popUp(bool on)
{
    return bytes({ 0xA5, 0x5A, 0x07, 0x54, 0x02, on ? 1 : 0, 0x00 });
}

inline QByteArray microphone(bool on)
{
    return bytes({ 0xA5, 0x5A, 0x07, 0x54, 0x03, on ? 1 : 0, 0x00 });
}

inline QByteArray firmware(quint8 major, quint8 minor)
{
    return bytes({ 0xA5, 0x5A, 0x07, 0x0B, major, minor, 0x00 });
}

} // namespace fakes::mouse_replies
