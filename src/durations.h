#pragma once

// Every duration the monitor uses, in milliseconds, in one record.
// The product always runs with the defaults below; tests build a shorter
// record and hand it to the window and the links.
struct Durations {
    int connectTimerInterval = 10000; // Timer2: keeps the links connected
    int pollTimerInterval = 10000;    // Timer1: starts an Auto-Read cycle
    int totalPowerPause = 1000;       // between the status and the power request
    int pressPause = 500;             // after each press of an Auto-Read cycle
    int panelPause = 500;             // after each LED panel message

    // Link component
    int connectTimeout = 9000;   // an attempt still pending after this ends as 10060
    int receiveStall = 50;       // a waiting receive gives up after this long without a byte
    int reconnectGuard = 10000;  // at most one immediate reconnect per period after a graceful close

    static const Durations &product()
    {
        static const Durations d;
        return d;
    }
};
