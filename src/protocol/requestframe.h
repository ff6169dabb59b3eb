#pragma once

#include <QtGlobal>

#include <array>

class QDebug;

// The 8-byte request an inverter is asked with:
//
//   offset 0   0x62  fixed
//   offset 1   0xFF  fixed (the same byte as offset 3)
//   offset 2   0x03  fixed
//   offset 3   0xFF  fixed
//   offset 4   0x00  fixed
//   offset 5   command code
//   offset 6   check byte of that command
//   offset 7   0x00  fixed
//
// The eight bytes of every valid frame add up to 0 modulo 256.

enum class Command : quint8 {
    Status = 0x57,
    PowerParameters = 0x43,
    DailyEnergy = 0x9D,
    TotalEnergy = 0x45,
};

using RequestFrameBytes = std::array<quint8, 8>;

constexpr int RequestFrameSize = 8;
constexpr int CommandOffset = 5;
constexpr int CheckByteOffset = 6;

// The check byte that goes with a command, as a fixed constant per command.
constexpr quint8 checkByte(Command command)
{
    switch (command) {
    case Command::Status:
        return 0x46;
    case Command::PowerParameters:
        return 0x5A;
    case Command::DailyEnergy:
        return 0x00;
    case Command::TotalEnergy:
        return 0x58;
    }
    return 0x00;
}

// Length in bytes of the inverter's answer to a command: 15 for status,
// 73 for power parameters, 11 for either energy.
constexpr int expectedReplySize(Command command)
{
    switch (command) {
    case Command::Status:
        return 15;
    case Command::PowerParameters:
        return 73;
    case Command::DailyEnergy:
    case Command::TotalEnergy:
        return 11;
    }
    return 0;
}

// The frame as start-up leaves it: fixed bytes set, command and check byte 0,
// that is 62 FF 03 FF 00 00 00 00.
constexpr RequestFrameBytes blankRequestFrame()
{
    return {0x62, 0xFF, 0x03, 0xFF, 0x00, 0x00, 0x00, 0x00};
}

// Writes a command code into byte 5 and a check byte into byte 6 of a frame;
// the other six bytes are left as they are.
constexpr void writeCommand(RequestFrameBytes &frame, quint8 command, quint8 check)
{
    frame[CommandOffset] = command;
    frame[CheckByteOffset] = check;
}

// Writes a command and its own check byte into bytes 5 and 6 of a frame.
constexpr void writeCommand(RequestFrameBytes &frame, Command command)
{
    writeCommand(frame, quint8(command), checkByte(command));
}

// The complete frame of a command, e.g. 62 FF 03 FF 00 57 46 00 for Status.
constexpr RequestFrameBytes requestFrame(Command command)
{
    RequestFrameBytes frame = blankRequestFrame();
    writeCommand(frame, command);
    return frame;
}

// Prints a frame as lower-case hex bytes separated by spaces,
// e.g. "62 ff 03 ff 00 57 46 00", so failing comparisons are readable.
QDebug operator<<(QDebug debug, const RequestFrameBytes &frame);
