#pragma once

#include "plantmodel.h"
#include "protocol/replies.h"
#include "protocol/requestframe.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// The answers of a simulated inverter, byte for byte, and the reading of its
// requests. Every answer begins with the request header 62 FF 03 FF 00
// (offsets 0..4) and ends with a check byte that makes all its bytes add up
// to 0 modulo 256, as the requests do; every other byte that the monitor does
// not examine is 0.

// Status answer, 15 bytes: offset 5 the state code.
QByteArray encodeStatusAnswer(InverterState state);

// Energy answer, 11 bytes: offsets 5..8 the watt-hours, signed 32-bit
// little-endian.
QByteArray encodeEnergyAnswer(qint32 wattHours);

// Power-parameters answer, 73 bytes: the eighteen counts as unsigned 16-bit
// little-endian values at the offsets of PowerParameters::blockOffset
// (voltage, current +2, power +4).
QByteArray encodePowerAnswer(const PowerParameters &values);

// The answer to a command from an inverter's reading: status, power
// parameters, daily energy or total energy.
QByteArray encodeAnswer(Command command, const InverterReading &reading);

// Picks the requests out of the bytes a client sends. A request is taken when
// eight consecutive bytes read 62 FF 03 FF 00, a known command, any check
// byte, 00, and all eight add up to 0 modulo 256; every other byte is skipped
// one at a time, so a request is found again after any junk. No more than
// seven bytes (the start of a possible request) are kept between calls,
// whatever is fed.
class RequestScanner {
public:
    // The commands of the requests completed by these bytes, in order.
    QList<Command> feed(QByteArrayView bytes);
    qsizetype pending() const { return m_size; }

private:
    void dropFirst();

    quint8 m_buf[RequestFrameSize] = {};
    int m_size = 0;
};
