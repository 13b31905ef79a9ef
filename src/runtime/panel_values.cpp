// Control values and attributes: typed reads and writes, dimming, visibility, position,
// labels, colours and fonts, text messages, list items and pictures.
#include "charts.h"
#include "internal.h"
#include "panel_registry.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QSpinBox>

#include <algorithm>
#include <cstring>

namespace runtime {

using namespace detail;

namespace {

int ctrlInt(const Control& c) {
    switch (c.kind) {
    case Kind::Numeric:
        return qobject_cast<QSpinBox*>(c.w)->value();
    case Kind::Ring: {
        auto* b = qobject_cast<QComboBox*>(c.w);
        return b->currentIndex() < 0 ? 0 : b->currentData().toInt();
    }
    case Kind::Toggle:
        return qobject_cast<QAbstractButton*>(c.w)->isChecked() ? 1 : 0;
    default:
        return 0;
    }
}

bool numericKind(Kind k) {
    return k == Kind::Numeric || k == Kind::Ring || k == Kind::Toggle;
}

int setNumber(Control& c, long long v, const QString& asText) {
    ++suppressEvents;
    int rc = UIE_NO_ERROR;
    switch (c.kind) {
    case Kind::Numeric: {
        auto* s = qobject_cast<QSpinBox*>(c.w);
        QSignalBlocker block(s);
        s->setValue(int(std::clamp<long long>(v, s->minimum(), s->maximum())));
        break;
    }
    case Kind::Ring: {
        auto* b = qobject_cast<QComboBox*>(c.w);
        int idx = b->findData(int(v));
        if (idx < 0) {
            // A value no item holds is kept, not lost: it gets an item of its own.
            b->addItem(QString::number(v), int(v));
            idx = b->count() - 1;
        }
        QSignalBlocker block(b);
        b->setCurrentIndex(idx);
        break;
    }
    case Kind::Toggle: {
        auto* b = qobject_cast<QAbstractButton*>(c.w);
        QSignalBlocker block(b);
        b->setChecked(v != 0);
        updateToggleText(b);
        break;
    }
    case Kind::String:
        qobject_cast<QLineEdit*>(c.w)->setText(asText);
        break;
    case Kind::TextMsg:
        qobject_cast<QLabel*>(c.w)->setText(asText);
        c.w->adjustSize();
        break;
    default:
        rc = UIE_TYPE_MISMATCH;
    }
    --suppressEvents;
    return rc;
}

} // namespace

const char* CtrlKindName(int panel, int control) {
    Control* c = findCtrl(panel, control);
    return c ? kindName(c->kind) : nullptr;
}

// ---- values -------------------------------------------------------------------------

int GetCtrlVal(int panel, int control, unsigned char* value) {
    Control* c = findCtrl(panel, control);
    if (!c || !value) return UIE_BAD_CONTROL;
    if (c->type != DType::UChar || !numericKind(c->kind)) return mismatch(*c, "uchar");
    *value = static_cast<unsigned char>(ctrlInt(*c));
    return 0;
}

int GetCtrlVal(int panel, int control, int* value) {
    Control* c = findCtrl(panel, control);
    if (!c || !value) return UIE_BAD_CONTROL;
    if (c->type != DType::Int || !numericKind(c->kind)) return mismatch(*c, "int");
    *value = ctrlInt(*c);
    return 0;
}

int GetCtrlVal(int panel, int control, double* value) {
    Control* c = findCtrl(panel, control);
    if (!c || !value) return UIE_BAD_CONTROL;
    if (c->type != DType::Double || !numericKind(c->kind)) return mismatch(*c, "double");
    *value = ctrlInt(*c);
    return 0;
}

int GetCtrlVal(int panel, int control, char* value, std::size_t size) {
    Control* c = findCtrl(panel, control);
    if (!c || !value || size == 0) return UIE_BAD_CONTROL;
    QByteArray text;
    if (c->kind == Kind::String && c->type == DType::String)
        text = qobject_cast<QLineEdit*>(c->w)->text().toLocal8Bit();
    else if (c->kind == Kind::TextMsg)
        text = qobject_cast<QLabel*>(c->w)->text().toLocal8Bit();
    else
        return mismatch(*c, "string");
    if (std::size_t(text.size()) + 1 > size) return UIE_BUFFER_TOO_SMALL;
    std::memcpy(value, text.constData(), std::size_t(text.size()));
    value[text.size()] = '\0';
    return 0;
}

int SetCtrlVal(int panel, int control, int value) {
    Control* c = findCtrl(panel, control);
    if (!c) return UIE_BAD_CONTROL;
    const int rc = setNumber(*c, value, QString::number(value));
    return rc == UIE_TYPE_MISMATCH ? mismatch(*c, "int") : rc;
}

int SetCtrlVal(int panel, int control, unsigned int value) {
    Control* c = findCtrl(panel, control);
    if (!c) return UIE_BAD_CONTROL;
    const int rc = setNumber(*c, value, QString::number(value));
    return rc == UIE_TYPE_MISMATCH ? mismatch(*c, "unsigned") : rc;
}

int SetCtrlVal(int panel, int control, double value) {
    Control* c = findCtrl(panel, control);
    if (!c) return UIE_BAD_CONTROL;
    const int rc = setNumber(*c, static_cast<long long>(value), QString::number(value));
    return rc == UIE_TYPE_MISMATCH ? mismatch(*c, "double") : rc;
}

int SetCtrlVal(int panel, int control, const char* value) {
    Control* c = findCtrl(panel, control);
    if (!c) return UIE_BAD_CONTROL;
    const QString text = QString::fromLocal8Bit(value ? value : "");
    if (c->kind == Kind::String) {
        auto* edit = qobject_cast<QLineEdit*>(c->w);
        edit->setText(text);
        if (edit->isReadOnly()) {
            // A display: its beginning in view, the whole text on hovering.
            edit->setCursorPosition(0);
            // ...unless the program has given it a tooltip of its own.
            if (!edit->property("ownToolTip").toBool()) edit->setToolTip(text);
        }
    } else if (c->kind == Kind::TextMsg) {
        qobject_cast<QLabel*>(c->w)->setText(text);
        c->w->adjustSize();
    } else
        return mismatch(*c, "string");
    return 0;
}

// ---- attributes ---------------------------------------------------------------------

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    Control* c = findCtrl(panel, control);
    if (!c) return UIE_BAD_CONTROL;
    QWidget* w = c->w;
    switch (attribute) {
    case ATTR_DIMMED:
        w->setEnabled(value == 0);
        if (c->label) c->label->setEnabled(value == 0);
        return 0;
    case ATTR_VISIBLE:
        w->setVisible(value != 0);
        if (c->label) c->label->setVisible(value != 0);
        return 0;
    case ATTR_LEFT:
    case ATTR_TOP: {
        const QPoint old = w->pos();
        const QPoint now = attribute == ATTR_LEFT ? QPoint(value, old.y()) : QPoint(old.x(), value);
        w->move(now);
        if (c->label) c->label->move(c->label->pos() + (now - old));
        return 0;
    }
    case ATTR_FRAME_COLOR: {
        QPalette pal = w->palette();
        pal.setColor(QPalette::Window, rgb(value));
        w->setPalette(pal);
        w->setAutoFillBackground(true);
        return 0;
    }
    case ATTR_TEXT_COLOR:
    case ATTR_TEXT_BGCOLOR: {
        QPalette pal = w->palette();
        if (attribute == ATTR_TEXT_COLOR) {
            pal.setColor(QPalette::WindowText, rgb(value));
            pal.setColor(QPalette::Text, rgb(value)); // the text of an edit field
        } else if (value == VAL_TRANSPARENT)
            w->setAutoFillBackground(false);
        else {
            pal.setColor(QPalette::Window, rgb(value));
            w->setAutoFillBackground(true);
        }
        w->setPalette(pal);
        return 0;
    }
    case ATTR_TEXT_POINT_SIZE: {
        if (value < 1 || value > 200) return UIE_BAD_VALUE;
        // Sizes are in the panel's own pixels, like every position on it.
        QFont f = w->font();
        f.setPixelSize(value);
        w->setFont(f);
        if (c->kind == Kind::TextMsg) w->adjustSize();
        return 0;
    }
    case ATTR_POINTS_PER_SCREEN:
        if (auto* s = qobject_cast<detail::StripChart*>(w)) {
            s->setPointsPerScreen(value);
            return 0;
        }
        return UIE_BAD_ATTRIBUTE;
    default:
        return UIE_BAD_ATTRIBUTE;
    }
}

int SetCtrlAttribute(int panel, int control, int attribute, const char* value) {
    Control* c = findCtrl(panel, control);
    if (!c || !value) return UIE_BAD_CONTROL;
    switch (attribute) {
    case ATTR_LABEL_TEXT:
        if (!c->label) return UIE_BAD_ATTRIBUTE;
        c->label->setText(QString::fromLocal8Bit(value));
        return 0;
    case ATTR_TOOLTIP_TEXT:
        c->w->setProperty("ownToolTip", *value != '\0');
        if (auto* edit = qobject_cast<QLineEdit*>(c->w); edit && !*value && edit->isReadOnly())
            edit->setToolTip(edit->text()); // back to showing its whole text
        else
            c->w->setToolTip(QString::fromLocal8Bit(value));
        if (c->label) c->label->setToolTip(QString::fromLocal8Bit(value));
        return 0;
    case ATTR_TEXT_FONT: {
        QFont f = std::strcmp(value, VAL_APP_META_FONT) == 0 ? QApplication::font()
                                                             : QFont(QString::fromLocal8Bit(value));
        const QFont old = c->w->font();
        if (old.pixelSize() > 0)
            f.setPixelSize(old.pixelSize());
        else
            f.setPointSizeF(old.pointSizeF());
        c->w->setFont(f);
        if (c->kind == Kind::TextMsg) c->w->adjustSize();
        return 0;
    }
    default:
        return UIE_BAD_ATTRIBUTE;
    }
}

int GetCtrlAttribute(int panel, int control, int attribute, int* value) {
    Control* c = findCtrl(panel, control);
    if (!c || !value) return UIE_BAD_CONTROL;
    switch (attribute) {
    case ATTR_DIMMED:
        *value = c->w->isEnabled() ? 0 : 1;
        return 0;
    case ATTR_VISIBLE:
        *value = c->w->isVisibleTo(c->w->window()) ? 1 : 0;
        return 0;
    case ATTR_LEFT:
        *value = c->w->x();
        return 0;
    case ATTR_TOP:
        *value = c->w->y();
        return 0;
    case ATTR_FRAME_COLOR:
        *value = int(c->w->palette().color(QPalette::Window).rgb() & 0xFFFFFF);
        return 0;
    case ATTR_TEXT_COLOR:
        *value = int(c->w->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF);
        return 0;
    case ATTR_TEXT_BGCOLOR:
        *value = c->w->autoFillBackground()
                     ? int(c->w->palette().color(QPalette::Window).rgb() & 0xFFFFFF)
                     : VAL_TRANSPARENT;
        return 0;
    case ATTR_TEXT_POINT_SIZE:
        *value = c->w->font().pixelSize() > 0 ? c->w->font().pixelSize() : c->w->font().pointSize();
        return 0;
    case ATTR_POINTS_PER_SCREEN:
        if (auto* s = qobject_cast<detail::StripChart*>(c->w)) {
            *value = s->pointsPerScreen();
            return 0;
        }
        return UIE_BAD_ATTRIBUTE;
    default:
        return UIE_BAD_ATTRIBUTE;
    }
}

int NewCtrl(int panel, int style, const char* label, int top, int left) {
    Panel* p = findPanel(panel);
    if (!p) return UIE_BAD_PANEL;
    if (style != CTRL_TEXT_MSG) return UIE_BAD_VALUE;
    auto* l = new QLabel(p->top);
    l->setText(QString::fromLocal8Bit(label ? label : ""));
    l->move(left, top);
    l->adjustSize();
    l->show();
    l->raise();
    Control c;
    c.id = p->nextId++;
    c.kind = Kind::TextMsg;
    c.type = DType::String;
    c.w = l;
    p->ctrls[c.id] = c;
    return c.id;
}

int ReplaceListItem(int panel, int control, int index, const char* label, int value) {
    Control* c = findCtrl(panel, control);
    if (!c) return UIE_BAD_CONTROL;
    auto* b = qobject_cast<QComboBox*>(c->w);
    if (!b) return UIE_TYPE_MISMATCH;
    if (index < 0 || index >= b->count()) return UIE_BAD_VALUE;
    QSignalBlocker block(b);
    b->setItemText(index, QString::fromLocal8Bit(label ? label : ""));
    b->setItemData(index, value);
    return 0;
}

int DisplayImageFile(int panel, int control, const char* file) {
    Control* c = findCtrl(panel, control);
    if (!c) return UIE_BAD_CONTROL;
    auto* l = qobject_cast<QLabel*>(c->w);
    if (!l || c->kind != Kind::Picture) return UIE_TYPE_MISMATCH;
    QPixmap pm;
    if (!pm.load(QFile::decodeName(detail::ResolveBeside(file).c_str()))) return UIE_FILE_NOT_FOUND;
    l->setPixmap(pm);
    l->resize(pm.size());
    return 0;
}

} // namespace runtime
