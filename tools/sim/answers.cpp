#include "answers.h"

#include <cstring>

namespace {
constexpr RequestFrameBytes Header = blankRequestFrame();
constexpr int HeaderSize = 5;

QByteArray blankAnswer(int size)
{
    QByteArray answer(size, '\0');
    for (int i = 0; i < HeaderSize; ++i)
        answer[i] = char(Header[i]);
    return answer;
}

void putU16(QByteArray &answer, int offset, quint16 v)
{
    answer[offset] = char(v & 0xFF);
    answer[offset + 1] = char(v >> 8);
}

QByteArray sealed(QByteArray answer)
{
    quint8 sum = 0;
    for (qsizetype i = 0; i + 1 < answer.size(); ++i)
        sum = quint8(sum + quint8(answer[i]));
    answer[answer.size() - 1] = char(quint8(0x100 - sum));
    return answer;
}

bool knownCommand(quint8 code)
{
    switch (Command(code)) {
    case Command::Status:
    case Command::PowerParameters:
    case Command::DailyEnergy:
    case Command::TotalEnergy:
        return true;
    }
    return false;
}
} // namespace

QByteArray encodeStatusAnswer(InverterState state)
{
    QByteArray answer = blankAnswer(StatusReplySize);
    answer[5] = char(quint8(state));
    return sealed(answer);
}

QByteArray encodeEnergyAnswer(qint32 wattHours)
{
    QByteArray answer = blankAnswer(EnergyReplySize);
    const quint32 raw = quint32(wattHours);
    for (int i = 0; i < 4; ++i)
        answer[5 + i] = char((raw >> (8 * i)) & 0xFF);
    return sealed(answer);
}

QByteArray encodePowerAnswer(const PowerParameters &values)
{
    QByteArray answer = blankAnswer(PowerReplySize);
    for (int b = 0; b < PowerParameters::BlockCount; ++b) {
        const auto block = PowerParameters::Block(b);
        const int offset = PowerParameters::blockOffset(block);
        putU16(answer, offset, values[block].rawVoltage);
        putU16(answer, offset + 2, values[block].rawCurrent);
        putU16(answer, offset + 4, values[block].rawPower);
    }
    return sealed(answer);
}

QByteArray encodeAnswer(Command command, const InverterReading &reading)
{
    switch (command) {
    case Command::Status:
        return encodeStatusAnswer(reading.state);
    case Command::PowerParameters:
        return encodePowerAnswer(reading.power);
    case Command::DailyEnergy:
        return encodeEnergyAnswer(reading.dailyWh);
    case Command::TotalEnergy:
        return encodeEnergyAnswer(reading.totalWh);
    }
    return {};
}

void RequestScanner::dropFirst()
{
    std::memmove(m_buf, m_buf + 1, size_t(m_size - 1));
    --m_size;
}

QList<Command> RequestScanner::feed(QByteArrayView bytes)
{
    QList<Command> commands;
    for (const char c : bytes) {
        m_buf[m_size++] = quint8(c);
        // Keep the buffer a possible start of a request.
        for (;;) {
            bool fits = true;
            for (int i = 0; i < m_size && fits; ++i) {
                if (i < HeaderSize)
                    fits = m_buf[i] == Header[i];
                else if (i == RequestFrameSize - 1)
                    fits = m_buf[i] == 0;
            }
            if (fits && m_size == RequestFrameSize) {
                quint8 sum = 0;
                for (const quint8 b : m_buf)
                    sum = quint8(sum + b);
                fits = sum == 0 && knownCommand(m_buf[CommandOffset]);
                if (fits) {
                    commands.append(Command(m_buf[CommandOffset]));
                    m_size = 0;
                    break;
                }
            }
            if (fits || m_size == 0)
                break;
            dropFirst();
        }
    }
    return commands;
}
