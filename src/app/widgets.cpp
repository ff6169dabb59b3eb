#include "widgets.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionGroupBox>

#include "fonts.h"

namespace {

constexpr const char *fitsTextProperty = "brelvonFitsText";

bool isMouseButtonEvent(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        return true;
    default:
        return false;
    }
}

// The group frame of the system the layout was drawn for. Fusion starts its
// frame below the caption, where it would cut through the first row of every
// group; here it runs through the caption's middle, as the layout expects.
class MonitorFrameStyle : public QProxyStyle
{
public:
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl sub,
                         const QWidget *widget) const override
    {
        QRect r = QProxyStyle::subControlRect(control, option, sub, widget);
        if (control == CC_GroupBox && sub == SC_GroupBoxLabel)
            r.translate(captionIndent, 0);
        return r;
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget) const override
    {
        const auto *box = qstyleoption_cast<const QStyleOptionGroupBox *>(option);
        if (control != CC_GroupBox || !box) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        const QRect caption = subControlRect(CC_GroupBox, option, SC_GroupBoxLabel, widget);
        const bool titled = !box->text.isEmpty();
        const QRect frame = option->rect.adjusted(0, titled ? caption.center().y() : 0, -1, -1);
        painter->save();
        QRegion clip(option->rect);
        if (titled)
            clip -= caption.adjusted(-2, 0, 1, 0);
        painter->setClipRegion(clip);
        painter->setPen(option->palette.color(QPalette::Mid));
        painter->drawRect(frame.adjusted(0, 0, -1, -1));
        painter->setPen(option->palette.color(QPalette::Light));
        painter->drawRect(frame.adjusted(1, 1, 0, 0));
        painter->restore();

        QStyleOptionGroupBox title(*box);
        title.subControls &= ~SC_GroupBoxFrame;
        QProxyStyle::drawComplexControl(control, &title, painter, widget);
    }

private:
    static constexpr int captionIndent = 6;
};

} // namespace

void useMonitorFrame(QGroupBox *box)
{
    static QPointer<MonitorFrameStyle> style;
    if (!style) {
        style = new MonitorFrameStyle;
        style->setParent(qApp);
    }
    box->setStyle(style);
}

Readout::Readout(QWidget *parent)
    : QLabel(parent)
{
    // QLabel paints a right-aligned text that is too wide so that it runs out
    // past the left edge, where the widget clips it: exactly the cut wanted,
    // so no paintEvent of our own.
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setAutoFillBackground(true);
    setFont(readoutFont(12));
    // QLabel ignores presses, which would let them bubble up to the group.
    setAttribute(Qt::WA_NoMousePropagation);
}

void Readout::setColors(const QColor &text, const QColor &background)
{
    QPalette pal = palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::WindowText, text);
        pal.setColor(group, QPalette::Window, background);
    }
    setPalette(pal);
}

Lamp::Lamp(QWidget *parent)
    : QWidget(parent)
    , m_color(disconnectedColor())
{
    setAttribute(Qt::WA_NoMousePropagation);
    setAttribute(Qt::WA_OpaquePaintEvent);
    describe();
}

void Lamp::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    describe();
    update();
}

void Lamp::describe()
{
    setAccessibleDescription(m_color == connectedColor() ? QStringLiteral("connected")
                                                         : QStringLiteral("not connected"));
}

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), m_color);
    p.setPen(QPen(Qt::black, 0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

ClickGroup::ClickGroup(const QString &title, QWidget *parent)
    : QGroupBox(title, parent)
{
}

void ClickGroup::setFitsText(QLabel *label)
{
    label->setProperty(fitsTextProperty, true);
    label->resize(label->sizeHint());
}

bool ClickGroup::event(QEvent *event)
{
    // A label that changes its text asks its parent for a new layout (the
    // group has no layout of its own), and a text set while the group was
    // hidden is caught when the group is shown.
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Show)
        fitLabels();
    return QGroupBox::event(event);
}

void ClickGroup::fitLabels()
{
    const auto labels = findChildren<QLabel *>(Qt::FindDirectChildrenOnly);
    for (QLabel *label : labels) {
        if (label->property(fitsTextProperty).toBool() && label->size() != label->sizeHint())
            label->resize(label->sizeHint());
    }
}

void ClickGroup::mousePressEvent(QMouseEvent *event)
{
    // QGroupBox ignores presses unless it is checkable; take them here so the
    // release comes back to us.
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_pressed = true;
    event->accept();
}

void ClickGroup::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const bool wasPressed = m_pressed;
    m_pressed = false;
    event->accept();
    if (wasPressed && rect().contains(event->position().toPoint()))
        emit clicked();
}

RequestButton::RequestButton(const QString &text, QWidget *parent)
    : QPushButton(text, parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAutoDefault(false);
    setDefault(false);
}

bool RequestButton::event(QEvent *event)
{
    // QAbstractButton swallows mouse clicks while disabled (to avoid click-
    // through). A switched-off request button must let the click through to
    // its group: answering "not handled" makes QApplication hand the press and
    // the release on to the parent.
    if (!isEnabled() && isMouseButtonEvent(event)) {
        event->ignore();
        return false;
    }
    return QPushButton::event(event);
}
