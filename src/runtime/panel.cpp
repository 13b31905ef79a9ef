// Panels and controls: the panel file loader, control values and attributes, the
// event rules, graphs and the event loop.
#include "charts.h"
#include "endpoint.h"
#include "internal.h"
#include "runtime.h"
#include "testhooks.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QStyle>
#include <QLabel>
#include <QMouseEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QUiLoader>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace runtime {

namespace {

enum class Kind { Numeric, Ring, Toggle, Command, String, Decoration, Picture, Strip, Graph, TextMsg };
enum class DType { None, UChar, Int, Double, String };

const char* kindName(Kind k) {
    switch (k) {
    case Kind::Numeric: return "numeric";
    case Kind::Ring: return "ring";
    case Kind::Toggle: return "toggle";
    case Kind::Command: return "command";
    case Kind::String: return "string";
    case Kind::Decoration: return "decoration";
    case Kind::Picture: return "picture";
    case Kind::Strip: return "strip";
    case Kind::Graph: return "graph";
    case Kind::TextMsg: return "textmsg";
    }
    return "";
}

const char* typeName(DType t) {
    switch (t) {
    case DType::UChar: return "uchar";
    case DType::Int: return "int";
    case DType::Double: return "double";
    case DType::String: return "string";
    case DType::None: return "";
    }
    return "";
}

struct Control {
    int id = 0;
    Kind kind = Kind::Decoration;
    DType type = DType::None;
    QWidget* w = nullptr;
    QLabel* label = nullptr;
    CtrlCallbackPtr cb = nullptr;
    std::string cbName;
};

struct Panel {
    int handle = 0;
    QWidget* top = nullptr;
    std::map<int, Control> ctrls;
    PanelCallbackPtr cb = nullptr;
    int nextId = 100;
};

std::map<std::string, CallbackEntry> callbackTable;
std::map<int, Panel> panels;
int nextHandle = 1;
bool quitFlag = false;
int quitCode = 0;
int typeMismatches = 0;
int suppressEvents = 0; // > 0 while the program itself changes a control

Panel* findPanel(int handle) {
    auto it = panels.find(handle);
    return it == panels.end() ? nullptr : &it->second;
}

Control* findCtrl(int panel, int control) {
    Panel* p = findPanel(panel);
    if (!p) return nullptr;
    auto it = p->ctrls.find(control);
    return it == p->ctrls.end() ? nullptr : &it->second;
}

int mismatch(const Control& c, const char* wanted) {
    ++typeMismatches;
    std::fprintf(stderr, "varno: control %d holds %s, accessed as %s\n", c.id, typeName(c.type),
                 wanted);
    return UIE_TYPE_MISMATCH;
}

QColor rgb(int v) { return QColor((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF); }

void updateToggleText(QAbstractButton* b) {
    const QVariant on = b->property("onText");
    const QVariant off = b->property("offText");
    if (on.isValid() && off.isValid()) b->setText(b->isChecked() ? on.toString() : off.toString());
}

int dispatch(int panel, int control, int event, int d1 = 0, int d2 = 0) {
    Control* c = findCtrl(panel, control);
    if (!c || !c->cb) return 0;
    return c->cb(panel, control, event, nullptr, d1, d2);
}

int dispatchPanel(int panel, int event) {
    Panel* p = findPanel(panel);
    if (!p || !p->cb) return 0;
    return p->cb(panel, event, nullptr, 0, 0);
}

void fillPortSelector(QComboBox* box);

// Sends right clicks to the control's callback and the window's close to the panel.
class EventRouter : public QObject {
public:
    EventRouter(int panel, int control, QWidget* owner, QObject* parent)
        : QObject(parent), panel_(panel), control_(control), owner_(owner) {}

protected:
    bool eventFilter(QObject* obj, QEvent* ev) override {
        if (control_ == 0) {
            if (ev->type() == QEvent::Close && obj == owner_) {
                ev->ignore();
                dispatchPanel(panel_, EVENT_CLOSE);
                return true;
            }
            return false;
        }
        // Help answers on dimmed controls too: "why is this greyed out?" is a fair question.
        const bool rightPress = ev->type() == QEvent::MouseButtonPress &&
                                static_cast<QMouseEvent*>(ev)->button() == Qt::RightButton;
        // A dimmed control gets no context-menu request of its own: its right press counts.
        const bool enabled = owner_->isEnabled();
        if ((ev->type() == QEvent::ContextMenu && enabled) || (rightPress && !enabled)) {
            if (owner_->isVisible()) dispatch(panel_, control_, EVENT_RIGHT_CLICK);
            return true;
        }
        if (ev->type() == QEvent::ContextMenu) return true;
        // The port list is brought up to date each time it is opened: an adapter plugged
        // in after start gets the next free number.
        if (obj == owner_ && owner_->property("portSelector").toBool() && owner_->isEnabled() &&
            ((ev->type() == QEvent::MouseButtonPress &&
              static_cast<QMouseEvent*>(ev)->button() == Qt::LeftButton) ||
             ev->type() == QEvent::KeyPress)) {
            if (auto* box = qobject_cast<QComboBox*>(owner_)) {
                const QVariant current = box->currentData();
                RescanSerialPorts();
                QSignalBlocker block(box);
                fillPortSelector(box);
                const int idx = box->findData(current);
                if (idx >= 0) box->setCurrentIndex(idx);
            }
        }
        return false;
    }

private:
    int panel_, control_;
    QWidget* owner_;
};

// F8 to F12 stand for their command buttons: a key runs the button's commit in the event
// pass that receives it (a button's own shortcut would animate a click and deliver it
// about 100 ms later). A key held down is one press.
class KeyRouter : public QObject {
public:
    using QObject::QObject;
    std::map<int, std::pair<int, int>> keys; // key -> (panel, control)

protected:
    bool eventFilter(QObject* obj, QEvent* ev) override {
        if (ev->type() != QEvent::KeyPress && ev->type() != QEvent::ShortcutOverride) return false;
        auto* ke = static_cast<QKeyEvent*>(ev);
        if (ke->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        auto it = keys.find(ke->key());
        if (it == keys.end()) return false;
        auto* w = qobject_cast<QWidget*>(obj);
        Panel* p = findPanel(it->second.first);
        Control* c = findCtrl(it->second.first, it->second.second);
        if (!w || !p || !c || w->window() != p->top) return false;
        if (ev->type() == QEvent::ShortcutOverride) {
            ev->accept(); // the key is ours, not a shortcut's
            return true;
        }
        if (!ke->isAutoRepeat() && c->w->isEnabled() && c->w->isVisible())
            dispatch(it->second.first, it->second.second, EVENT_COMMIT);
        return true;
    }
};

KeyRouter* keyRouter = nullptr;

void routeShortcut(int handle, Control& c) {
    auto* b = qobject_cast<QAbstractButton*>(c.w);
    if (!b || b->shortcut().isEmpty()) return;
    // The shortcut stays on the button (it names its key); the router takes the key
    // before the shortcut would fire.
    const QKeyCombination k = b->shortcut()[0];
    if (!keyRouter) {
        keyRouter = new KeyRouter(qApp);
        qApp->installEventFilter(keyRouter);
    }
    keyRouter->keys[k.key()] = {handle, c.id};
}

class Loader : public QUiLoader {
public:
    QWidget* createWidget(const QString& className, QWidget* parent,
                          const QString& name) override {
        QWidget* w = nullptr;
        if (className == "StripChart") w = new detail::StripChart(parent);
        else if (className == "Graph") w = new detail::Graph(parent);
        if (w) {
            w->setObjectName(name);
            return w;
        }
        return QUiLoader::createWidget(className, parent, name);
    }
};

bool kindOf(QWidget* w, Kind& k) {
    if (qobject_cast<detail::StripChart*>(w)) k = Kind::Strip;
    else if (qobject_cast<detail::Graph*>(w)) k = Kind::Graph;
    else if (qobject_cast<QSpinBox*>(w)) k = Kind::Numeric;
    else if (qobject_cast<QComboBox*>(w)) k = Kind::Ring;
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
        k = (b->isCheckable() || qobject_cast<QCheckBox*>(w)) ? Kind::Toggle : Kind::Command;
    else if (qobject_cast<QLineEdit*>(w)) k = Kind::String;
    else if (qobject_cast<QLabel*>(w)) k = Kind::Picture;
    else if (qobject_cast<QFrame*>(w)) k = Kind::Decoration;
    else return false;
    return true;
}

bool typeOf(const QString& s, DType& t) {
    if (s.isEmpty()) t = DType::None;
    else if (s == "uchar") t = DType::UChar;
    else if (s == "int") t = DType::Int;
    else if (s == "double") t = DType::Double;
    else if (s == "string") t = DType::String;
    else return false;
    return true;
}

void fillPortSelector(QComboBox* box) {
    box->clear();
    const int n = SerialPortCount();
    for (int i = 1; i <= n; ++i) {
        const std::string d = SerialPortLabel(i);
        box->addItem(d.empty() ? QString("COM%1").arg(i)
                               : QString("COM%1  %2").arg(i).arg(QString::fromStdString(d)),
                     i);
    }
}

void wireEvents(int handle, Control& c) {
    const int id = c.id;
    QWidget* w = c.w;
    switch (c.kind) {
    case Kind::Numeric:
        if (auto* s = qobject_cast<QSpinBox*>(w); !s->isReadOnly()) {
            // Enter, Tab, focus loss and every arrow or wheel step commit a change.
            s->setKeyboardTracking(false);
            QObject::connect(s, &QSpinBox::valueChanged, s, [handle, id](int) {
                if (!suppressEvents) dispatch(handle, id, EVENT_COMMIT);
            });
        }
        break;
    case Kind::Ring:
        QObject::connect(qobject_cast<QComboBox*>(w), &QComboBox::activated, w,
                         [handle, id](int) { dispatch(handle, id, EVENT_COMMIT); });
        break;
    case Kind::Toggle: {
        auto* b = qobject_cast<QAbstractButton*>(w);
        updateToggleText(b);
        QObject::connect(b, &QAbstractButton::clicked, b, [handle, id, b](bool) {
            updateToggleText(b);
            dispatch(handle, id, EVENT_VAL_CHANGED);
            dispatch(handle, id, EVENT_COMMIT);
        });
        break;
    }
    case Kind::Command:
        QObject::connect(qobject_cast<QAbstractButton*>(w), &QAbstractButton::clicked, w,
                         [handle, id](bool) { dispatch(handle, id, EVENT_COMMIT); });
        routeShortcut(handle, c);
        break;
    case Kind::String:
        if (auto* e = qobject_cast<QLineEdit*>(w); !e->isReadOnly())
            QObject::connect(e, &QLineEdit::editingFinished, e,
                             [handle, id] { dispatch(handle, id, EVENT_COMMIT); });
        break;
    default: break;
    }
    auto* router = new EventRouter(handle, id, w, w);
    w->installEventFilter(router);
    for (QWidget* child : w->findChildren<QWidget*>()) child->installEventFilter(router);
    // A right click on the control's label text asks for the same help.
    if (c.label) c.label->installEventFilter(router);
    if (auto* v = qobject_cast<QAbstractScrollArea*>(w)) v->viewport()->installEventFilter(router);
}

int ctrlInt(const Control& c) {
    switch (c.kind) {
    case Kind::Numeric: return qobject_cast<QSpinBox*>(c.w)->value();
    case Kind::Ring: {
        auto* b = qobject_cast<QComboBox*>(c.w);
        return b->currentIndex() < 0 ? 0 : b->currentData().toInt();
    }
    case Kind::Toggle: return qobject_cast<QAbstractButton*>(c.w)->isChecked() ? 1 : 0;
    default: return 0;
    }
}

bool numericKind(Kind k) { return k == Kind::Numeric || k == Kind::Ring || k == Kind::Toggle; }

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
    case Kind::String: qobject_cast<QLineEdit*>(c.w)->setText(asText); break;
    case Kind::TextMsg:
        qobject_cast<QLabel*>(c.w)->setText(asText);
        c.w->adjustSize();
        break;
    default: rc = UIE_TYPE_MISMATCH;
    }
    --suppressEvents;
    return rc;
}

} // namespace

void RegisterCallbacks(const CallbackEntry* table, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) callbackTable[table[i].name] = table[i];
}

int LoadPanel(int /*parent*/, const char* file, int resourceId) {
    if (!QCoreApplication::instance()) return UIE_BAD_PANEL;
    const QString path = QFile::decodeName(detail::ResolveBeside(file).c_str());
    QFile f(path);
    if (!QFileInfo(path).isFile() || !f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "varno: cannot open panel file %s\n", qPrintable(path));
        return UIE_FILE_NOT_FOUND;
    }
    Loader loader;
    std::unique_ptr<QWidget> top(loader.load(&f, nullptr));
    if (!top || !loader.errorString().isEmpty()) {
        std::fprintf(stderr, "varno: panel file %s is damaged: %s\n", qPrintable(path),
                     qPrintable(loader.errorString()));
        return UIE_BAD_FILE;
    }
    if (top->property("resourceId").toInt() != resourceId) {
        std::fprintf(stderr, "varno: panel file %s holds no panel %d\n", qPrintable(path),
                     resourceId);
        return UIE_BAD_PANEL;
    }

    Panel p;
    p.handle = nextHandle;
    p.top = top.get();
    const QString panelCb = top->property("callback").toString();
    if (!panelCb.isEmpty()) {
        auto it = callbackTable.find(panelCb.toStdString());
        if (it == callbackTable.end() || !it->second.panel) {
            std::fprintf(stderr, "varno: panel file names an unknown callback %s\n",
                         qPrintable(panelCb));
            return UIE_UNKNOWN_CALLBACK;
        }
        p.cb = it->second.panel;
    }
    for (QWidget* w : top->findChildren<QWidget*>()) {
        const QVariant idv = w->property("ctrlId");
        if (!idv.isValid()) continue;
        Control c;
        c.id = idv.toInt();
        c.w = w;
        if (c.id <= 0 || p.ctrls.count(c.id) || !kindOf(w, c.kind) ||
            !typeOf(w->property("dataType").toString(), c.type)) {
            std::fprintf(stderr, "varno: panel file has a bad control %d (%s)\n", c.id,
                         qPrintable(w->objectName()));
            return UIE_BAD_FILE;
        }
        c.cbName = w->property("callback").toString().toStdString();
        if (!c.cbName.empty()) {
            auto it = callbackTable.find(c.cbName);
            if (it == callbackTable.end() || !it->second.control) {
                std::fprintf(stderr, "varno: panel file names an unknown callback %s\n",
                             c.cbName.c_str());
                return UIE_UNKNOWN_CALLBACK;
            }
            c.cb = it->second.control;
        }
        if (auto* box = qobject_cast<QComboBox*>(w)) {
            if (w->property("portSelector").toBool()) {
                fillPortSelector(box);
            } else {
                // Item values come from itemValues; without it an item's value is its index.
                const QStringList values =
                    w->property("itemValues").toString().split(',', Qt::SkipEmptyParts);
                for (int i = 0; i < box->count(); ++i)
                    box->setItemData(i, i < values.size() ? values[i].trimmed().toInt() : i);
            }
        }
        p.nextId = std::max(p.nextId, c.id + 1);
        p.ctrls[c.id] = c;
    }
    for (QLabel* l : top->findChildren<QLabel*>()) {
        const QVariant of = l->property("labelOf");
        if (!of.isValid()) continue;
        auto it = p.ctrls.find(of.toInt());
        if (it != p.ctrls.end()) it->second.label = l;
    }
    for (auto& [id, c] : p.ctrls) wireEvents(p.handle, c);
    // The panel's colours are chosen for a light background: under a dark desktop theme
    // its text would turn white on the light rows. It keeps a light palette of its own.
    top->setPalette(top->style()->standardPalette());
    top->installEventFilter(new EventRouter(p.handle, 0, top.get(), top.get()));
    top->setFixedSize(top->size());
    ++nextHandle;
    top.release();
    panels[p.handle] = p;
    return p.handle;
}

int DisplayPanel(int panel) {
    Panel* p = findPanel(panel);
    if (!p) return UIE_BAD_PANEL;
    p->top->show();
    p->top->raise();
    p->top->activateWindow();
    return 0;
}

int DiscardPanel(int panel) {
    Panel* p = findPanel(panel);
    if (!p) return UIE_BAD_PANEL;
    if (keyRouter)
        std::erase_if(keyRouter->keys, [panel](const auto& k) { return k.second.first == panel; });
    QWidget* top = p->top;
    panels.erase(panel);
    delete top;
    return 0;
}

int RunUserInterface() {
    auto* dispatcher = QAbstractEventDispatcher::instance();
    while (!quitFlag && dispatcher) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    quitFlag = false;
    return quitCode;
}

bool QuitPending() { return quitFlag; }

int QuitUserInterface(int returnCode) {
    quitFlag = true;
    quitCode = returnCode;
    if (auto* d = QAbstractEventDispatcher::instance()) d->wakeUp();
    return 0;
}

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
            edit->setToolTip(text);
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
        } else if (value == VAL_TRANSPARENT) w->setAutoFillBackground(false);
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
    default: return UIE_BAD_ATTRIBUTE;
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
    case ATTR_TEXT_FONT: {
        QFont f = std::strcmp(value, VAL_APP_META_FONT) == 0 ? QApplication::font()
                                                              : QFont(QString::fromLocal8Bit(value));
        const QFont old = c->w->font();
        if (old.pixelSize() > 0) f.setPixelSize(old.pixelSize());
        else f.setPointSizeF(old.pointSizeF());
        c->w->setFont(f);
        if (c->kind == Kind::TextMsg) c->w->adjustSize();
        return 0;
    }
    default: return UIE_BAD_ATTRIBUTE;
    }
}

int GetCtrlAttribute(int panel, int control, int attribute, int* value) {
    Control* c = findCtrl(panel, control);
    if (!c || !value) return UIE_BAD_CONTROL;
    switch (attribute) {
    case ATTR_DIMMED: *value = c->w->isEnabled() ? 0 : 1; return 0;
    case ATTR_VISIBLE: *value = c->w->isVisibleTo(c->w->window()) ? 1 : 0; return 0;
    case ATTR_LEFT: *value = c->w->x(); return 0;
    case ATTR_TOP: *value = c->w->y(); return 0;
    case ATTR_FRAME_COLOR: *value = int(c->w->palette().color(QPalette::Window).rgb() & 0xFFFFFF); return 0;
    case ATTR_TEXT_COLOR: *value = int(c->w->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF); return 0;
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
    default: return UIE_BAD_ATTRIBUTE;
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

// ---- graphs -------------------------------------------------------------------------

namespace {
bool toDoubles(const void* array, int count, int dataType, std::vector<double>& out) {
    if (!array || count < 0) return false;
    out.resize(std::size_t(count));
    if (dataType == VAL_UNSIGNED_CHAR)
        for (int i = 0; i < count; ++i) out[i] = static_cast<const unsigned char*>(array)[i];
    else if (dataType == VAL_DOUBLE)
        for (int i = 0; i < count; ++i) out[i] = static_cast<const double*>(array)[i];
    else
        return false;
    return true;
}
} // namespace

int DeleteGraphPlot(int panel, int control, int plot, int /*refresh*/) {
    Control* c = findCtrl(panel, control);
    if (!c) return UIE_BAD_CONTROL;
    auto* g = qobject_cast<detail::Graph*>(c->w);
    if (!g) return UIE_TYPE_MISMATCH;
    if (plot != -1) return UIE_BAD_VALUE;
    g->clearPlots();
    return 0;
}

int PlotY(int panel, int control, const void* array, int count, int dataType, int plotStyle,
          int /*pointStyle*/, int /*lineStyle*/, int /*pointFrequency*/, int color) {
    Control* c = findCtrl(panel, control);
    if (!c) return UIE_BAD_CONTROL;
    auto* g = qobject_cast<detail::Graph*>(c->w);
    if (!g) return UIE_TYPE_MISMATCH;
    std::vector<double> y;
    if (!toDoubles(array, count, dataType, y)) return UIE_BAD_VALUE;
    g->addPlot(std::move(y), plotStyle, color);
    return int(g->plots().size());
}

int PlotStripChart(int panel, int control, const void* array, int count, int start, int skip,
                   int dataType) {
    Control* c = findCtrl(panel, control);
    if (!c) return UIE_BAD_CONTROL;
    auto* s = qobject_cast<detail::StripChart*>(c->w);
    if (!s) return UIE_TYPE_MISMATCH;
    std::vector<double> all;
    if (start < 0 || skip < 0 || start > count || !toDoubles(array, count, dataType, all))
        return UIE_BAD_VALUE;
    std::vector<double> v;
    for (int i = start; i < count; i += skip + 1) v.push_back(all[std::size_t(i)]);
    s->append(v);
    return 0;
}

int SetTraceAttribute(int panel, int control, int trace, int attribute, int value) {
    Control* c = findCtrl(panel, control);
    if (!c) return UIE_BAD_CONTROL;
    auto* s = qobject_cast<detail::StripChart*>(c->w);
    if (!s) return UIE_TYPE_MISMATCH;
    if (attribute != ATTR_TRACE_VISIBLE) return UIE_BAD_ATTRIBUTE;
    if (trace < 1 || trace > s->traces()) return UIE_BAD_VALUE;
    s->setTraceVisible(trace, value != 0);
    return 0;
}

QWidget* detail::CtrlWidget(int panel, int control) {
    Control* c = findCtrl(panel, control);
    return c ? c->w : nullptr;
}

// ---- test hooks ---------------------------------------------------------------------

namespace test {

int FireEvent(int panel, int control, int event, int d1, int d2) {
    return dispatch(panel, control, event, d1, d2);
}
int FirePanelEvent(int panel, int event) { return dispatchPanel(panel, event); }

QWidget* ControlWidget(int panel, int control) {
    Control* c = findCtrl(panel, control);
    return c ? c->w : nullptr;
}
QWidget* PanelWidget(int panel) {
    Panel* p = findPanel(panel);
    return p ? p->top : nullptr;
}
QWidget* LabelWidget(int panel, int control) {
    Control* c = findCtrl(panel, control);
    return c ? c->label : nullptr;
}

ControlInfo GetControlInfo(int panel, int control) {
    ControlInfo info;
    Control* c = findCtrl(panel, control);
    if (!c) return info;
    info.exists = true;
    info.kind = kindName(c->kind);
    info.dataType = typeName(c->type);
    info.callback = c->cbName;
    info.label = c->label ? c->label->text().toStdString() : std::string();
    info.visible = c->w->isVisibleTo(c->w->window());
    info.dimmed = !c->w->isEnabled();
    return info;
}

std::vector<int> ControlIds(int panel) {
    std::vector<int> ids;
    if (Panel* p = findPanel(panel))
        for (auto& [id, c] : p->ctrls) ids.push_back(id);
    return ids;
}

int TypeMismatchCount() { return typeMismatches; }

std::vector<PlotInfo> GraphPlots(int panel, int control) {
    std::vector<PlotInfo> out;
    Control* c = findCtrl(panel, control);
    if (!c) return out;
    if (auto* g = qobject_cast<detail::Graph*>(c->w))
        for (const auto& p : g->plots()) out.push_back({p.y, p.color, p.style});
    return out;
}

std::vector<double> StripTrace(int panel, int control, int trace) {
    Control* c = findCtrl(panel, control);
    auto* s = c ? qobject_cast<detail::StripChart*>(c->w) : nullptr;
    return s ? s->traceData(trace) : std::vector<double>{};
}
bool StripTraceVisible(int panel, int control, int trace) {
    Control* c = findCtrl(panel, control);
    auto* s = c ? qobject_cast<detail::StripChart*>(c->w) : nullptr;
    return s && s->traceVisible(trace);
}
int StripPointsPerScreen(int panel, int control) {
    Control* c = findCtrl(panel, control);
    auto* s = c ? qobject_cast<detail::StripChart*>(c->w) : nullptr;
    return s ? s->pointsPerScreen() : 0;
}
int StripAppendCount(int panel, int control) {
    Control* c = findCtrl(panel, control);
    auto* s = c ? qobject_cast<detail::StripChart*>(c->w) : nullptr;
    return s ? s->appendCount() : 0;
}

bool QuitRequested() { return quitFlag; }
void ResetQuit() { quitFlag = false; }

} // namespace test

} // namespace runtime
