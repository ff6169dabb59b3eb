#pragma once

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

// Decoders of the inverter answers. An answer is told apart by its length
// alone; no header, command echo or checksum is ever examined. The decoders
// taking a pointer read only the offsets named below and need a buffer of at
// least the stated length (the shared 100-byte receive buffer always is).
// The try* variants take a view and return nullopt when it is too short.

enum class ReplyKind { None, Energy, Status, PowerParameters };

constexpr int EnergyReplySize = 11;
constexpr int StatusReplySize = 15;
constexpr int PowerReplySize = 73;

// Kind of answer for a count of received bytes: 11 energy (daily or total),
// 15 status, 73 power parameters, any other count (negative ones too) None.
ReplyKind classifyReply(int dataSize);

// Energy answer: signed 32-bit two's-complement watt-hour counter,
// little-endian at offsets 5..8. Needs at least 9 bytes.
constexpr int EnergyMinBytes = 9;
qint32 decodeEnergy(const quint8 *buf);
std::optional<qint32> tryDecodeEnergy(QByteArrayView reply);

// Watt-hours as megawatt-hours (÷ 1 000 000 in extended precision).
long double energyMWh(qint32 wattHours);

// Status answer: unsigned operating state code at offset 5.
// Needs at least 6 bytes.
constexpr int StatusMinBytes = 6;
quint8 decodeStatusCode(const quint8 *buf);
std::optional<quint8> tryDecodeStatusCode(QByteArrayView reply);

// Text of an operating state code: 0 "Off", 1 "Idling", 2 "Starting",
// 3 "Feed-In MPP", 4 "Regulated Feed-In", 5 "Feed-In"; nullopt for any
// other code (the shown text is then left as it was).
std::optional<QString> statusText(quint8 code);

// Voltage, current and power of one DC input or AC phase, as raw unsigned
// counts and scaled: volts = raw ÷ 10, amperes = raw ÷ 100, watts as is.
struct PowerBlock {
    quint16 rawVoltage = 0;
    quint16 rawCurrent = 0;
    quint16 rawPower = 0;

    long double voltage() const { return rawVoltage / 10.0L; }
    long double current() const { return rawCurrent / 100.0L; }
    long double power() const { return rawPower; }

    friend bool operator==(const PowerBlock &, const PowerBlock &) = default;
};

// The eighteen values of a power-parameters answer, in the order in which
// they are shown: AC phase 1, 2, 3, then DC input 1, 2, 3.
struct PowerParameters {
    enum Block { AcPhase1, AcPhase2, AcPhase3, DcInput1, DcInput2, DcInput3, BlockCount };

    std::array<PowerBlock, BlockCount> blocks{};

    // Offset of a block's voltage; its current follows at +2, its power at +4.
    // DC input k lives at 5 + 10(k-1), AC phase k at 35 + 8(k-1).
    static constexpr int blockOffset(Block block)
    {
        return block >= DcInput1 ? 5 + 10 * (block - DcInput1) : 35 + 8 * (block - AcPhase1);
    }

    // Inverter power in kW: the three DC input powers added left to right,
    // ÷ 1000, in extended precision. AC phase powers take no part.
    long double inverterPowerKw() const;

    const PowerBlock &operator[](Block block) const { return blocks[block]; }

    friend bool operator==(const PowerParameters &, const PowerParameters &) = default;
};

// Power-parameters answer: eighteen unsigned 16-bit little-endian values at
// the offsets of PowerParameters::blockOffset. Reads offsets 5..56 only, so
// needs at least 57 bytes (the answer itself has 73).
constexpr int PowerMinBytes = 57;
PowerParameters decodePowerParameters(const quint8 *buf);
std::optional<PowerParameters> tryDecodePowerParameters(QByteArrayView reply);
