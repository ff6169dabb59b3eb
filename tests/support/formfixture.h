#pragma once

#include "app/tform2.h"
#include "testpeer.h"

#include <QTemporaryDir>

#include <array>
#include <memory>

// A monitor window against real local peers: six inverter peers and a panel
// peer on 127.0.0.1, a param.ini naming them, and shortened durations.
struct FormFixture {
    static Durations fastDurations();

    // extraIni is appended to the generated param.ini; hosts[slot] overrides
    // a slot's host (e.g. "Null").
    explicit FormFixture(const QString &extraIni = {}, const Durations &durations = fastDurations(),
                         const std::array<QString, 7> &hosts = {});

    // Shows the window (reads param.ini) and waits until every inverter link
    // whose host is 127.0.0.1, and the panel link, are connected.
    bool showAndConnect();

    QStringList log() const;
    QString text(const QString &objectName) const;
    QWidget *widget(const QString &objectName) const;

    QTemporaryDir dir;
    std::array<std::unique_ptr<TestPeer>, 7> peer; // 1..6
    std::unique_ptr<TestPeer> panel;
    std::unique_ptr<TForm2> form;
    Durations durations;
};
