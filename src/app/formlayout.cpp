#include "formlayout.h"

#include <QPixmap>

#include "fonts.h"

namespace {

enum class Kind { Label, Lamp, RequestButton, Readout, Picture, Button, Memo, CheckBox };

enum class Look {
    Default,       // the form's font, window-text colour
    RowCaption,    // "Voltage", "Current", "Power": Tahoma 13 px
    Status,        // Tahoma 11 px, blue
    AcValue,       // small readouts of the phase boxes
    AcPower,
    DcValue,       // small readouts of the DC input boxes
    DcPower,
    Large,         // per-inverter power and energies
    Total,         // plant totals over the LED panel picture
};

// Which member of SlotWidgets / FormWidgets a table row fills.
enum class Field {
    None, LabelHost, LblStatus, Shape, SBP, SBD, SBT, TPower, DailyEnergy, ETotal,
    Image1, Power_Total, ETotal_Total, CO2_Total, Shape7, Button1, Button2, Button3, Memo1, CB1,
};

struct Item {
    const char *name;        // objectName; "%1" stands for the slot digit; nullptr: unnamed
    Kind kind;
    QRect rect;              // in the container; width 0: sized to its text
    const char *text;
    Look look;
    Field field;
    const char *description; // accessible description; "%1" stands for the slot digit
};

// The system has no desktop colour of its own; black matches the power readouts.
const QColor desktopColor(Qt::black);
const QColor red(255, 0, 0), lime(0, 255, 0), yellow(255, 255, 0), blue(0, 0, 255);

// Group 1's layout serves all six inverter groups.
const Item slotItems[] = {
    {"LabelHost%1", Kind::Label, {8, 16, 0, 0}, "", Look::Default, Field::LabelHost, "Inverter %1 host and port"},
    {nullptr, Kind::Label, {8, 32, 0, 0}, "Satus:", Look::Default, Field::None, nullptr},
    {"LblStatus%1", Kind::Label, {48, 32, 105, 17}, "Unknow", Look::Status, Field::LblStatus, "Inverter %1 status"},
    {"Shape%1", Kind::Lamp, {160, 32, 62, 14}, "", Look::Default, Field::Shape, nullptr},
    {"SBP%1", Kind::RequestButton, {8, 277, 73, 22}, "Total Power", Look::Default, Field::SBP, nullptr},
    {"SBD%1", Kind::RequestButton, {8, 298, 73, 22}, "Daily Energy", Look::Default, Field::SBD, nullptr},
    {"SBT%1", Kind::RequestButton, {8, 319, 73, 22}, "Total Energy", Look::Default, Field::SBT, nullptr},
    {"TPower_%1", Kind::Readout, {88, 277, 130, 22}, "000.0", Look::Large, Field::TPower, "Inverter %1 power in kW"},
    {"DailyEnergy_%1", Kind::Readout, {88, 297, 130, 22}, "000.0", Look::Large, Field::DailyEnergy,
     "Inverter %1 daily energy"},
    {"ETotal_%1", Kind::Readout, {88, 317, 130, 22}, "000.0", Look::Large, Field::ETotal,
     "Inverter %1 total energy in MWh"},
};

// The six boxes of a group, in the order of SlotWidgets::values.
struct Box {
    const char *caption;
    QPoint pos;
    bool ac;
    const char *names[3]; // voltage, current, power; "%1" stands for the slot digit
};
const Box boxes[6] = {
    {"Phase 1", {118, 47}, true, {"F1volt_%1", "F1Cur_%1", "F1Power_%1"}},
    {"Phase 2", {118, 123}, true, {"F2Volt_%1", "F2Cur_%1", "F2Power_%1"}},
    {"Phase 3", {118, 198}, true, {"F3Volt_%1", "F3cur_%1", "F3Power_%1"}},
    {"DC Input 1", {6, 47}, false, {"G1Volt_%1", "G1Cur_%1", "G1Power_%1"}},
    {"DC Input 2 ", {6, 123}, false, {"G2Volt_%1", "G2Cur_%1", "G2Power_%1"}},
    {"DC Input 3", {6, 199}, false, {"G3Volt_%1", "G3Cur_%1", "G3Power_%1"}},
};
const QSize boxSize(105, 76);

struct Row {
    const char *caption;
    QPoint captionPos;
    QRect readout;
};
const Row rows[3] = {
    {"Voltage", {3, 16}, {50, 16, 50, 17}},
    {"Current", {3, 36}, {50, 36, 50, 17}},
    {"Power", {3, 55}, {50, 56, 50, 17}},
};

const QRect groupRects[7] = {
    {}, {8, 8, 233, 345}, {256, 8, 233, 345}, {504, 8, 233, 345},
    {744, 8, 233, 345}, {8, 360, 233, 345}, {256, 360, 233, 345},
};
const QRect panelGroupRect(496, 360, 481, 345);

// The picture comes first so that the totals readouts lie above it.
const Item panelItems[] = {
    {"Image1", Kind::Picture, {24, 16, 421, 185}, ":/ledpanel.png", Look::Default, Field::Image1, nullptr},
    {"Power_Total", Kind::Readout, {351, 69, 85, 18}, "000000", Look::Total, Field::Power_Total,
     "Plant power in kW"},
    {"ETotal_Total", Kind::Readout, {350, 95, 85, 18}, "000000", Look::Total, Field::ETotal_Total,
     "Plant total production in MWh"},
    {"CO2_Total", Kind::Readout, {350, 121, 85, 18}, "000000", Look::Total, Field::CO2_Total,
     "CO2 reduction in kg"},
    {"Shape7", Kind::Lamp, {456, 16, 17, 65}, "", Look::Default, Field::Shape7, nullptr},
    {"Button3", Kind::Button, {448, 96, 25, 25}, "Snd", Look::Default, Field::Button3,
     "Send the totals to the LED panel now"},
    {"Memo1", Kind::Memo, {24, 216, 425, 89}, "", Look::Default, Field::Memo1, nullptr},
    {"CB1", Kind::CheckBox, {8, 320, 121, 17}, "Auto-Read", Look::Default, Field::CB1,
     "Read all inverters every 10 seconds"},
    {"Button2", Kind::Button, {176, 312, 129, 25}, "Clear Log", Look::Default, Field::Button2, nullptr},
    {"Button1", Kind::Button, {320, 312, 129, 25}, "Exit", Look::Default, Field::Button1, nullptr},
};

QString withSlot(const char *pattern, int slot)
{
    QString s = QString::fromLatin1(pattern);
    return s.contains(QLatin1String("%1")) ? s.arg(slot) : s;
}

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::WindowText, color);
    widget->setPalette(pal);
}

void applyLook(QWidget *widget, Look look)
{
    auto *readout = qobject_cast<Readout *>(widget);
    switch (look) {
    case Look::Default:
        break;
    case Look::RowCaption:
        widget->setFont(monitorFont(13));
        break;
    case Look::Status:
        widget->setFont(monitorFont(11));
        setTextColor(widget, blue);
        break;
    case Look::AcValue:
    case Look::AcPower:
    case Look::DcValue:
    case Look::DcPower: {
        const bool ac = look == Look::AcValue || look == Look::AcPower;
        const bool power = look == Look::AcPower || look == Look::DcPower;
        readout->setFont(readoutFont(12));
        readout->setColors(ac ? red : lime, power ? QColor(Qt::black) : desktopColor);
        break;
    }
    case Look::Large:
        readout->setFont(readoutFont(19));
        readout->setColors(yellow, desktopColor);
        break;
    case Look::Total:
        readout->setFont(readoutFont(19));
        readout->setColors(red, desktopColor);
        break;
    }
}

QPushButton *plainButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QPlainTextEdit *eventLog(QWidget *parent)
{
    auto *memo = new QPlainTextEdit(parent);
    memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->setMaximumBlockCount(100000);
    // Tab moves on through the focus chain instead of typing a tab.
    memo->setTabChangesFocus(true);
    memo->setAccessibleName(QStringLiteral("Event log"));
    return memo;
}

QWidget *makeWidget(const Item &item, QWidget *parent, int slot)
{
    const QString text = QString::fromLatin1(item.text);
    QWidget *widget = nullptr;
    switch (item.kind) {
    case Kind::Label:
        widget = new QLabel(text, parent);
        // QLabel ignores presses; without this they would count as group clicks.
        widget->setAttribute(Qt::WA_NoMousePropagation);
        break;
    case Kind::Lamp:
        widget = new Lamp(parent);
        widget->setAccessibleName(slot ? QStringLiteral("Link lamp %1").arg(slot)
                                       : QStringLiteral("LED panel link lamp"));
        break;
    case Kind::RequestButton:
        widget = new RequestButton(text, parent);
        widget->setEnabled(false);
        break;
    case Kind::Readout: {
        auto *readout = new Readout(parent);
        readout->setText(text);
        widget = readout;
        break;
    }
    case Kind::Picture: {
        auto *picture = new QLabel(parent);
        picture->setPixmap(QPixmap(text));
        picture->setAccessibleName(QStringLiteral("LED panel"));
        widget = picture;
        break;
    }
    case Kind::Button:
        widget = plainButton(text, parent);
        break;
    case Kind::Memo:
        widget = eventLog(parent);
        break;
    case Kind::CheckBox:
        widget = new QCheckBox(text, parent);
        break;
    }
    if (item.name)
        widget->setObjectName(withSlot(item.name, slot));
    if (item.description)
        widget->setAccessibleDescription(withSlot(item.description, slot));
    applyLook(widget, item.look);
    if (item.rect.width() == 0) {
        widget->move(item.rect.topLeft());
        auto *label = static_cast<QLabel *>(widget);
        if (item.field == Field::LabelHost)
            ClickGroup::setFitsText(label);
        else
            label->adjustSize();
    } else if (item.kind == Kind::Readout) {
        widget->move(item.rect.topLeft());
        widget->setFixedSize(item.rect.size());
    } else {
        widget->setGeometry(item.rect);
    }
    return widget;
}

void bind(FormWidgets &w, int slot, Field field, QWidget *widget)
{
    SlotWidgets &s = w.slot[slot];
    switch (field) {
    case Field::None: break;
    case Field::LabelHost: s.LabelHost = static_cast<QLabel *>(widget); break;
    case Field::LblStatus: s.LblStatus = static_cast<QLabel *>(widget); break;
    case Field::Shape: s.Shape = static_cast<Lamp *>(widget); break;
    case Field::SBP: s.SBP = static_cast<RequestButton *>(widget); break;
    case Field::SBD: s.SBD = static_cast<RequestButton *>(widget); break;
    case Field::SBT: s.SBT = static_cast<RequestButton *>(widget); break;
    case Field::TPower: s.TPower = static_cast<Readout *>(widget); break;
    case Field::DailyEnergy: s.DailyEnergy = static_cast<Readout *>(widget); break;
    case Field::ETotal: s.ETotal = static_cast<Readout *>(widget); break;
    case Field::Image1: w.Image1 = static_cast<QLabel *>(widget); break;
    case Field::Power_Total: w.Power_Total = static_cast<Readout *>(widget); break;
    case Field::ETotal_Total: w.ETotal_Total = static_cast<Readout *>(widget); break;
    case Field::CO2_Total: w.CO2_Total = static_cast<Readout *>(widget); break;
    case Field::Shape7: w.Shape7 = static_cast<Lamp *>(widget); break;
    case Field::Button1: w.Button1 = static_cast<QPushButton *>(widget); break;
    case Field::Button2: w.Button2 = static_cast<QPushButton *>(widget); break;
    case Field::Button3: w.Button3 = static_cast<QPushButton *>(widget); break;
    case Field::Memo1: w.Memo1 = static_cast<QPlainTextEdit *>(widget); break;
    case Field::CB1: w.CB1 = static_cast<QCheckBox *>(widget); break;
    }
}

void buildBox(const Box &box, int block, ClickGroup *group, int slot, SlotWidgets &s)
{
    auto *frame = new QGroupBox(QString::fromLatin1(box.caption), group);
    frame->setGeometry(QRect(box.pos, boxSize));
    useMonitorFrame(frame);
    // The boxes are no part of the group's click surface.
    frame->setAttribute(Qt::WA_NoMousePropagation);
    for (int q = 0; q < 3; ++q) {
        const Row &row = rows[q];
        const Item caption{nullptr, Kind::Label, QRect(row.captionPos, QSize(0, 0)), row.caption,
                           Look::RowCaption, Field::None, nullptr};
        makeWidget(caption, frame, slot);
        const Look look = box.ac ? (q == 2 ? Look::AcPower : Look::AcValue)
                                 : (q == 2 ? Look::DcPower : Look::DcValue);
        const Item value{box.names[q], Kind::Readout, row.readout, "000.0", look, Field::None, nullptr};
        auto *readout = static_cast<Readout *>(makeWidget(value, frame, slot));
        readout->setAccessibleDescription(QStringLiteral("Inverter %1 %2 %3")
                                              .arg(slot)
                                              .arg(frame->title().trimmed(), QString::fromLatin1(row.caption)));
        s.values[block][q] = readout;
    }
}

void buildSlot(QWidget *form, int slot, FormWidgets &w)
{
    SlotWidgets &s = w.slot[slot];
    s.GB = new ClickGroup(QStringLiteral("Inverter 1"), form);
    s.GB->setObjectName(QStringLiteral("GB%1").arg(slot));
    s.GB->setGeometry(groupRects[slot]);
    useMonitorFrame(s.GB);
    for (const Item &item : slotItems)
        bind(w, slot, item.field, makeWidget(item, s.GB, slot));
    for (int block = 0; block < 6; ++block)
        buildBox(boxes[block], block, s.GB, slot, s);
}

void buildPanelGroup(QWidget *form, FormWidgets &w)
{
    w.GB7 = new QGroupBox(QStringLiteral("LED Panel "), form);
    w.GB7->setObjectName(QStringLiteral("GB7"));
    w.GB7->setGeometry(panelGroupRect);
    useMonitorFrame(w.GB7);
    for (const Item &item : panelItems)
        bind(w, 0, item.field, makeWidget(item, w.GB7, 0));
    for (QWidget *readout : {w.Power_Total, w.ETotal_Total, w.CO2_Total})
        readout->raise();
    QWidget::setTabOrder(w.CB1, w.Memo1);
    QWidget::setTabOrder(w.Memo1, w.Button2);
    QWidget::setTabOrder(w.Button2, w.Button1);
    QWidget::setTabOrder(w.Button1, w.Button3);
}

} // namespace

void buildFormWidgets(QWidget *form, FormWidgets &w)
{
    form->setFont(monitorFont(11));
    for (int slot = 1; slot <= 6; ++slot)
        buildSlot(form, slot, w);
    buildPanelGroup(form, w);
}
