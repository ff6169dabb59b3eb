#include "replies.h"

namespace {
quint16 readU16(const quint8 *buf, int offset)
{
    return quint16(buf[offset] | (buf[offset + 1] << 8));
}

const quint8 *bytesOf(QByteArrayView view)
{
    return reinterpret_cast<const quint8 *>(view.data());
}
} // namespace

ReplyKind classifyReply(int dataSize)
{
    switch (dataSize) {
    case EnergyReplySize:
        return ReplyKind::Energy;
    case StatusReplySize:
        return ReplyKind::Status;
    case PowerReplySize:
        return ReplyKind::PowerParameters;
    default:
        return ReplyKind::None;
    }
}

qint32 decodeEnergy(const quint8 *buf)
{
    // Assembled unsigned; the conversion to qint32 is modular since C++20,
    // so 00 00 00 80 gives INT32_MIN without undefined behaviour.
    const quint32 raw = quint32(buf[5]) | (quint32(buf[6]) << 8) | (quint32(buf[7]) << 16)
                        | (quint32(buf[8]) << 24);
    return qint32(raw);
}

std::optional<qint32> tryDecodeEnergy(QByteArrayView reply)
{
    if (reply.size() < EnergyMinBytes)
        return std::nullopt;
    return decodeEnergy(bytesOf(reply));
}

long double energyMWh(qint32 wattHours)
{
    return wattHours / 1000000.0L;
}

quint8 decodeStatusCode(const quint8 *buf)
{
    return buf[5];
}

std::optional<quint8> tryDecodeStatusCode(QByteArrayView reply)
{
    if (reply.size() < StatusMinBytes)
        return std::nullopt;
    return decodeStatusCode(bytesOf(reply));
}

std::optional<QString> statusText(quint8 code)
{
    switch (code) {
    case 0:
        return QStringLiteral("Off");
    case 1:
        return QStringLiteral("Idling");
    case 2:
        return QStringLiteral("Starting");
    case 3:
        return QStringLiteral("Feed-In MPP");
    case 4:
        return QStringLiteral("Regulated Feed-In");
    case 5:
        return QStringLiteral("Feed-In");
    default:
        return std::nullopt;
    }
}

long double PowerParameters::inverterPowerKw() const
{
    const long double sum = blocks[DcInput1].power() + blocks[DcInput2].power()
                            + blocks[DcInput3].power();
    return sum / 1000.0L;
}

PowerParameters decodePowerParameters(const quint8 *buf)
{
    PowerParameters result;
    for (int b = 0; b < PowerParameters::BlockCount; ++b) {
        const int offset = PowerParameters::blockOffset(PowerParameters::Block(b));
        result.blocks[b] = {readU16(buf, offset), readU16(buf, offset + 2),
                            readU16(buf, offset + 4)};
    }
    return result;
}

std::optional<PowerParameters> tryDecodePowerParameters(QByteArrayView reply)
{
    if (reply.size() < PowerMinBytes)
        return std::nullopt;
    return decodePowerParameters(bytesOf(reply));
}
