// Loading a panel file into real widgets, and wiring the widgets' events to the
// program's callbacks: commits, right clicks (help), the window's close and the keys.
#include "charts.h"
#include "log.h"
#include "internal_ui.h"
#include "panel_registry.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QTimer>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QUiLoader>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <memory>

namespace runtime {

using namespace detail;

namespace {

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
            if (owner_->isVisibleTo(owner_->window()))
                dispatch(panel_, control_, EVENT_RIGHT_CLICK);
            return true;
        }
        if (ev->type() == QEvent::ContextMenu) return true;
        return false;
    }

  private:
    int panel_, control_;
    QWidget* owner_;
};

// F8 to F12 stand for their command buttons: a key runs the button's commit in the event
// pass that receives it (a button's own shortcut would animate a click and deliver it
// about 100 ms later). A key held down is one press.
// A window destroyed from outside (a tool that closes windows without a window manager)
// sends no close event; its destruction counts as the operator closing it.
class DestroyWatch : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t" || !message) return false;
        const auto* ev = static_cast<const unsigned char*>(message);
        constexpr unsigned char destroyNotify = 17;
        if ((ev[0] & 0x7F) != destroyNotify) return false;
        std::uint32_t window = 0;
        std::memcpy(&window, ev + 8, sizeof window); // the destroyed window
        for (auto& [handle, p] : panels) {
            if (!p.top->testAttribute(Qt::WA_WState_Created) || p.top->winId() != window) continue;
            const int h = handle;
            QTimer::singleShot(0, qApp, [h] { dispatchPanel(h, EVENT_CLOSE); });
        }
        return false;
    }
};

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
        if (!ke->isAutoRepeat() && c->w->isEnabled() && c->w->isVisibleTo(p->top))
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
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        QWidget* w = nullptr;
        if (className == "StripChart")
            w = new detail::StripChart(parent);
        else if (className == "Graph")
            w = new detail::Graph(parent);
        if (w) {
            w->setObjectName(name);
            return w;
        }
        return QUiLoader::createWidget(className, parent, name);
    }
};

bool kindOf(QWidget* w, Kind& k) {
    if (qobject_cast<detail::StripChart*>(w))
        k = Kind::Strip;
    else if (qobject_cast<detail::Graph*>(w))
        k = Kind::Graph;
    else if (qobject_cast<QSpinBox*>(w))
        k = Kind::Numeric;
    else if (qobject_cast<QComboBox*>(w))
        k = Kind::Ring;
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
        k = (b->isCheckable() || qobject_cast<QCheckBox*>(w)) ? Kind::Toggle : Kind::Command;
    else if (qobject_cast<QLineEdit*>(w))
        k = Kind::String;
    else if (qobject_cast<QLabel*>(w))
        k = Kind::Picture;
    else if (qobject_cast<QFrame*>(w))
        k = Kind::Decoration;
    else
        return false;
    return true;
}

bool typeOf(const QString& s, DType& t) {
    if (s.isEmpty())
        t = DType::None;
    else if (s == "uchar")
        t = DType::UChar;
    else if (s == "int")
        t = DType::Int;
    else if (s == "double")
        t = DType::Double;
    else if (s == "string")
        t = DType::String;
    else
        return false;
    return true;
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
    default:
        break;
    }
    auto* router = new EventRouter(handle, id, w, w);
    w->installEventFilter(router);
    for (QWidget* child : w->findChildren<QWidget*>())
        child->installEventFilter(router);
    // A right click on the control's label text asks for the same help.
    if (c.label) c.label->installEventFilter(router);
    if (auto* v = qobject_cast<QAbstractScrollArea*>(w)) v->viewport()->installEventFilter(router);
}

} // namespace

void RegisterCallbacks(const CallbackEntry* table, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        callbackTable[table[i].name] = table[i];
}

// Reads the controls of the panel file into `p`: each with its id, kind, value type and
// callback. A control that is wrong, or names a callback the program lacks, refuses the
// whole panel (UIE_BAD_FILE, UIE_UNKNOWN_CALLBACK).
static int readControls(QWidget* top, Panel& p) {
    for (QWidget* w : top->findChildren<QWidget*>()) {
        const QVariant idv = w->property("ctrlId");
        if (!idv.isValid()) continue;
        Control c;
        c.id = idv.toInt();
        c.w = w;
        if (c.id <= 0 || p.ctrls.count(c.id) || !kindOf(w, c.kind) ||
            !typeOf(w->property("dataType").toString(), c.type)) {
            log::WarningF(log::Panel, "varno: panel file has a bad control %d (%s)", c.id,
                         qPrintable(w->objectName()));
            return UIE_BAD_FILE;
        }
        c.cbName = w->property("callback").toString().toStdString();
        if (!c.cbName.empty()) {
            auto it = callbackTable.find(c.cbName);
            if (it == callbackTable.end() || !it->second.control) {
                log::WarningF(log::Panel, "varno: panel file names an unknown callback %s",
                             c.cbName.c_str());
                return UIE_UNKNOWN_CALLBACK;
            }
            c.cb = it->second.control;
        }
        if (auto* box = qobject_cast<QComboBox*>(w)) {
            if (w->property("portSelector").toBool()) {
                FillPortSelector(box);
                WatchPortSelector(box);
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
    return 0;
}

// The panel's colours are chosen for a light background: under a dark desktop theme its
// text would turn white on the light rows. It keeps a light palette of its own.
static void keepLight(QWidget* top) {
    QPalette light(Qt::black, QColor(239, 239, 239), Qt::white, QColor(160, 160, 160),
                   QColor(200, 200, 200), Qt::black, Qt::white, Qt::white, QColor(239, 239, 239));
    light.setColor(QPalette::ToolTipBase, QColor(255, 255, 220));
    light.setColor(QPalette::ToolTipText, Qt::black);
    light.setColor(QPalette::PlaceholderText, QColor(110, 110, 110));
    light.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
    light.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 120));
    light.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(120, 120, 120));
    top->setPalette(light);
    // The style sheet has polished the children with the desktop's palette already.
    top->ensurePolished();
    for (QWidget* w : top->findChildren<QWidget*>())
        w->setPalette(light);
}

int LoadPanel(int /*parent*/, const char* file, int resourceId) {
    if (!QCoreApplication::instance()) return UIE_BAD_PANEL;
    const QString path = QFile::decodeName(detail::ResolveBeside(file).c_str());
    QFile f(path);
    if (!QFileInfo(path).isFile() || !f.open(QIODevice::ReadOnly)) {
        log::WarningF(log::Panel, "varno: cannot open panel file %s", qPrintable(path));
        return UIE_FILE_NOT_FOUND;
    }
    Loader loader;
    std::unique_ptr<QWidget> top(loader.load(&f, nullptr));
    if (!top || !loader.errorString().isEmpty()) {
        log::WarningF(log::Panel, "varno: panel file %s is damaged: %s", qPrintable(path),
                     qPrintable(loader.errorString()));
        return UIE_BAD_FILE;
    }
    if (top->property("resourceId").toInt() != resourceId) {
        log::WarningF(log::Panel, "varno: panel file %s holds no panel %d", qPrintable(path),
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
            log::WarningF(log::Panel, "varno: panel file names an unknown callback %s",
                         qPrintable(panelCb));
            return UIE_UNKNOWN_CALLBACK;
        }
        p.cb = it->second.panel;
    }
    const int rc = readControls(top.get(), p);
    if (rc != 0) return rc;
    for (QLabel* l : top->findChildren<QLabel*>()) {
        const QVariant of = l->property("labelOf");
        if (!of.isValid()) continue;
        auto it = p.ctrls.find(of.toInt());
        if (it != p.ctrls.end()) it->second.label = l;
    }
    for (auto& [id, c] : p.ctrls)
        wireEvents(p.handle, c);
    keepLight(top.get());
    top->installEventFilter(new EventRouter(p.handle, 0, top.get(), top.get()));
    static DestroyWatch* destroyWatch = nullptr;
    if (!destroyWatch) {
        destroyWatch = new DestroyWatch;
        qApp->installNativeEventFilter(destroyWatch);
    }
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
    detail::PanelShown(p->top);
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

} // namespace runtime
