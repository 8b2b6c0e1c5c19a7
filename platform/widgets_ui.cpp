#include "platform/widgets_ui.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace v7 {

QColor colorDesdeBGR(int bgr) {
    const quint32 v = quint32(bgr);
    if ((v & 0x80000000u) != 0) {
        const QPalette pal = QGuiApplication::palette();
        switch (v & 0xFFu) {
        case 5: // window
            return pal.color(QPalette::Base);
        case 8: // window text
            return pal.color(QPalette::Text);
        case 13: // highlight
            return pal.color(QPalette::Highlight);
        case 14: // highlight text
            return pal.color(QPalette::HighlightedText);
        case 15: // button face
            return pal.color(QPalette::Button);
        case 17: // grey (disabled) text
            return pal.color(QPalette::Disabled, QPalette::Text);
        case 18: // button text
            return pal.color(QPalette::ButtonText);
        default:
            return pal.color(QPalette::Window);
        }
    }
    return QColor(int(v & 0xFFu), int((v >> 8) & 0xFFu), int((v >> 16) & 0xFFu));
}

namespace {

QString css(int bgr) {
    return colorDesdeBGR(bgr).name();
}

// Alignment codes of the styled controls: 3 left, 4 centre, 5 right.
Qt::Alignment alineacion(int code) {
    switch (code) {
    case 3:
        return Qt::AlignLeft | Qt::AlignVCenter;
    case 5:
        return Qt::AlignRight | Qt::AlignVCenter;
    default:
        return Qt::AlignHCenter | Qt::AlignVCenter;
    }
}

// Percentage text such as "20%" as a fraction; anything unreadable counts as the whole.
qreal fraccion(const QString& percent) {
    bool ok = false;
    const qreal v = QString(percent).remove(QLatin1Char('%')).trimmed().toDouble(&ok);
    return ok ? qBound<qreal>(0.0, v / 100.0, 1.0) : 1.0;
}

QPainterPath contorno(const QRectF& r, qreal radius, bool tl, bool tr, bool br, bool bl) {
    const qreal d = qMin(radius * 2, qMin(r.width(), r.height()));
    QPainterPath p;
    if (d <= 0) {
        p.addRect(r);
        return p;
    }
    p.moveTo(r.left() + (tl ? d / 2 : 0), r.top());
    if (tr) {
        p.lineTo(r.right() - d / 2, r.top());
        p.arcTo(QRectF(r.right() - d, r.top(), d, d), 90, -90);
    } else {
        p.lineTo(r.topRight());
    }
    if (br) {
        p.lineTo(r.right(), r.bottom() - d / 2);
        p.arcTo(QRectF(r.right() - d, r.bottom() - d, d, d), 0, -90);
    } else {
        p.lineTo(r.bottomRight());
    }
    if (bl) {
        p.lineTo(r.left() + d / 2, r.bottom());
        p.arcTo(QRectF(r.left(), r.bottom() - d, d, d), 270, -90);
    } else {
        p.lineTo(r.bottomLeft());
    }
    if (tl) {
        p.lineTo(r.left(), r.top() + d / 2);
        p.arcTo(QRectF(r.left(), r.top(), d, d), 180, -90);
    } else {
        p.lineTo(r.topLeft());
    }
    p.closeSubpath();
    return p;
}

} // namespace

MyButton::MyButton(QWidget* parent) : QPushButton(parent) {
    connect(this, &MyButton::estiloCambiado, this, [this] {
        m_estilado = true;
        refrescarEstilo();
    });
}

MyButton::MyButton(const QString& caption, QWidget* parent) : MyButton(parent) {
    setText(caption);
}

void MyButton::setFontName(const QString& name) {
    QFont f = font();
    f.setFamily(name);
    setFont(f);
}

void MyButton::setFontBold(bool bold) {
    QFont f = font();
    f.setBold(bold);
    setFont(f);
}

void MyButton::setFontSize(int points) {
    QFont f = font();
    f.setPointSize(points);
    setFont(f);
}

void MyButton::keyPressEvent(QKeyEvent* event) {
    // A default or auto-default button already takes Enter through QPushButton; any other one is pressed
    // here, in a dialog as in a main window.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !autoDefault() && !isDefault() && !event->isAutoRepeat() &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        event->accept();
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void MyButton::refrescarEstilo() {
    if (!m_estilado) {
        return;
    }
    const Qt::Alignment a = alineacion(m_captionAlignment);
    const QString align = (a & Qt::AlignLeft)    ? QStringLiteral("left")
                          : (a & Qt::AlignRight) ? QStringLiteral("right")
                                                 : QStringLiteral("center");
    const QString border = m_borderWidth > 0
                               ? QStringLiteral("%1px solid %2").arg(m_borderWidth).arg(css(m_borderColor))
                               : QStringLiteral("none");
    // Later rules win: pressed over hover over focus; disabled last.
    setStyleSheet(QStringLiteral("QPushButton { background-color: %1; border: %2; border-radius: 3px;"
                                 " padding: 2px 6px; text-align: %3; }"
                                 "QPushButton:focus { background-color: %4; }"
                                 "QPushButton:hover { background-color: %5; }"
                                 "QPushButton:pressed { background-color: %6; }"
                                 "QPushButton:disabled { background-color: %7; color: %8; }")
                      .arg(css(m_backColor), border, align, css(m_backColorFocus), css(m_backColorOver),
                           css(m_backColorDown), css(m_backColorDisabled), colorDesdeBGR(int(0x80000011u)).name()));
}

MyFrame::MyFrame(QWidget* parent) : QFrame(parent) {
    connect(this, &MyFrame::estiloCambiado, this, [this] {
        m_estilado = true;
        update();
    });
}

void MyFrame::setFontName(const QString& name) {
    QFont f = font();
    f.setFamily(name);
    setFont(f);
}

void MyFrame::setFontBold(bool bold) {
    QFont f = font();
    f.setBold(bold);
    setFont(f);
}

void MyFrame::setFontSize(int points) {
    QFont f = font();
    f.setPointSize(points);
    setFont(f);
}

void MyFrame::paintEvent(QPaintEvent* event) {
    if (!m_estilado) {
        QFrame::paintEvent(event);
        return;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF all = QRectF(rect());
    if (m_outSideColor != 0) { // unset: the parent shows through the rounded corners
        p.fillRect(all, colorDesdeBGR(m_outSideColor));
    }

    const qreal bw = (m_borderStyle != 0) ? qMax(0, m_borderWidth) : 0;
    const QRectF r = all.adjusted(bw / 2, bw / 2, -bw / 2, -bw / 2);
    const QPainterPath shape =
        contorno(r, m_cornerRadius, m_cornerTopLeft, m_cornerTopRight, m_cornerBottomRight, m_cornerBottomLeft);

    p.save();
    p.setClipPath(shape);
    if (m_bodyShow || m_headerShow) {
        QLinearGradient body(r.topLeft(), r.bottomLeft());
        body.setColorAt(0, colorDesdeBGR(m_bodyColorTopLeft));
        body.setColorAt(qMax<qreal>(0.001, fraccion(m_bodyGradientSizeV)), colorDesdeBGR(m_bodyColorBottomLeft));
        body.setColorAt(1, colorDesdeBGR(m_bodyColorBottomLeft));
        p.fillRect(r, body);
    } else {
        p.fillRect(r, colorDesdeBGR(m_backColor));
    }
    if (m_headerShow && m_headerHeight > 0) {
        const QRectF band(r.left(), r.top(), r.width(), qMin<qreal>(m_headerHeight, r.height()));
        QLinearGradient head(band.topLeft(), band.bottomLeft());
        head.setColorAt(0, colorDesdeBGR(m_headerColorTopLeft));
        head.setColorAt(1, colorDesdeBGR(m_headerColorBottomLeft));
        p.fillRect(band, head);
        p.setPen(colorDesdeBGR(isEnabled() ? m_foreColor : m_foreDisabled));
        p.setFont(font());
        p.drawText(band.adjusted(8, 0, -8, 0), int(alineacion(m_captionAlignment)), m_caption);
    }
    p.restore();

    if (bw > 0) {
        p.setPen(QPen(colorDesdeBGR(m_borderColor), bw));
        p.setBrush(Qt::NoBrush);
        p.drawPath(shape);
    }
}

} // namespace v7
