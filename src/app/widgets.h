#pragma once

#include <QColor>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

// The monitor's own display components. They carry only look and click
// routing; every text, colour and enabled state is set by the window.

// A value display: a fixed-size, opaque, single-line label whose text is
// right-aligned in a bold monospaced face. A text wider than the readout
// loses its leftmost characters; its right end (the unit) stays visible.
// text() is the shown text, so accessibility reads the value.
// Mouse clicks on a readout never reach its parent.
class Readout : public QLabel
{
    Q_OBJECT
public:
    explicit Readout(QWidget *parent = nullptr);

    // Sets the text colour and the opaque background colour.
    void setColors(const QColor &text, const QColor &background);
};

// A link lamp: a rectangle filled with color() inside a one-pixel black
// outline. Starts red (255,0,0). Its accessible description follows the
// colour: "connected" while it is green (0,128,0), "not connected" otherwise.
// Mouse clicks on a lamp never reach its parent.
class Lamp : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QColor color READ color WRITE setColor)
public:
    explicit Lamp(QWidget *parent = nullptr);

    void setColor(const QColor &color);
    QColor color() const { return m_color; }

    static QColor connectedColor() { return QColor(0, 128, 0); }
    static QColor disconnectedColor() { return QColor(255, 0, 0); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void describe();

    QColor m_color;
};

// An inverter group: a captioned frame that emits clicked() for a left click
// (pressed and released inside the group) on its own surface: frame, caption,
// the space between its children, or a switched-off RequestButton inside it.
// Children that stop clicks (boxes, labels, readouts, lamps, switched-on
// buttons) keep them from the group.
// Direct child labels marked with setFitsText() are kept sized to their text
// whenever their text changes, so the window only sets the text.
class ClickGroup : public QGroupBox
{
    Q_OBJECT
public:
    explicit ClickGroup(const QString &title, QWidget *parent = nullptr);

    // Marks `label` (a direct child) to be kept sized to its text.
    static void setFitsText(QLabel *label);

signals:
    void clicked();

protected:
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void fitLabels();

    bool m_pressed = false;
};

// Gives `box` the monitor's group frame: an etched frame whose top line runs
// through the middle of the caption, the caption a few pixels in from the
// left edge. Only `box` itself is affected, not its children.
void useMonitorFrame(QGroupBox *box);

// A request button: a raised push button that never takes the keyboard focus
// and is never a default button. Switched off (disabled) it shows a greyed
// caption and lets a mouse click pass to its parent, so a click on it counts
// as a click on the group surface beneath. Switched on, it takes the click
// and emits clicked().
class RequestButton : public QPushButton
{
    Q_OBJECT
public:
    explicit RequestButton(const QString &text, QWidget *parent = nullptr);

protected:
    bool event(QEvent *event) override;
};
