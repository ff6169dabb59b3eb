#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// A way for one simulated inverter to misbehave, for tests and
// demonstrations. Written "mode" or "mode:arg" on the command line:
//
//   none          behaves well (the default)
//   refuse        nothing listens on its port: every connection is refused
//   close:S       closes gracefully (FIN) S seconds after each accept (default 15)
//   reset:S       closes abortively (SO_LINGER 0, RST) S seconds after each accept (default 20)
//   late:MS       sends every answer MS milliseconds after its request (default 1500)
//   split:MS      sends every answer in two parts, the second MS milliseconds
//                 after the first (default 100); the first part is half the answer
//   coalesce      holds each answer until the next one is due, then sends the
//                 two in one piece; a lone answer waits for the next request
//   silent        accepts and reads requests, never answers
//   garbage       answers every request with random bytes of a random length
//                 from 1 to 120, never the length of the right answer
//   flood:KIBPS   sends a continuous stream of random bytes unasked, at about
//                 KIBPS KiB/s (default 1024); requests are still answered,
//                 somewhere in the stream
//   blob:S        sends a 200-byte unasked blob of random bytes every S
//                 seconds (default 5); requests are answered normally
//
// Seconds may have a fractional part (close:0.5).
struct FaultMode {
    enum Kind { None, Refuse, Close, Reset, Late, Split, Coalesce, Silent, Garbage, Flood, Blob };

    Kind kind = None;
    // Milliseconds for close, reset, late, split and blob; KiB/s for flood;
    // 0 for the modes without an argument.
    int value = 0;

    static constexpr int GarbageMaxLength = 120;
    static constexpr int BlobSize = 200;

    // "reset:20", "silent", ... as listed above. On a bad text returns
    // nullopt and says why in *error: unknown mode, an argument where none
    // is taken, or an argument that is no number or out of range
    // (seconds 0.01..86400, milliseconds 0..600000 for late and 1..60000
    // for split, KiB/s 1..65536).
    static std::optional<FaultMode> parse(QStringView text, QString *error);

    // The mode as it is written on the command line, e.g. "reset:20",
    // "close:0.5", "silent".
    QString toString() const;

    friend bool operator==(const FaultMode &, const FaultMode &) = default;
};

// One "--fault" assignment: "n=mode[:arg]" with n the inverter slot 1..6.
struct FaultAssignment {
    int slot = 0;
    FaultMode mode;
};

// Parses "3=reset:20". Returns nullopt with the reason in *error for a
// missing "=", a slot that is not 1..6, or a bad mode.
std::optional<FaultAssignment> parseFaultAssignment(QStringView text, QString *error);
