// The registry of loaded panels and controls, and event delivery to their callbacks.
#include "panel_registry.h"
#include "log.h"

#include <QAbstractButton>
#include <QVariant>

#include <cstdio>

namespace runtime::detail {

std::map<std::string, CallbackEntry> callbackTable;
std::map<int, Panel> panels;
int nextHandle = 1;
int typeMismatches = 0;
int suppressEvents = 0;

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
    log::WarningF(log::Panel, "varno: control %d holds %s, accessed as %s", c.id, typeName(c.type),
                 wanted);
    return UIE_TYPE_MISMATCH;
}

QColor rgb(int v) {
    return QColor((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

void updateToggleText(QAbstractButton* b) {
    const QVariant on = b->property("onText");
    const QVariant off = b->property("offText");
    if (on.isValid() && off.isValid()) b->setText(b->isChecked() ? on.toString() : off.toString());
}

int dispatch(int panel, int control, int event, int d1, int d2) {
    Control* c = findCtrl(panel, control);
    if (!c || !c->cb) return 0;
    return c->cb(panel, control, event, nullptr, d1, d2);
}

int dispatchPanel(int panel, int event) {
    Panel* p = findPanel(panel);
    if (!p || !p->cb) return 0;
    return p->cb(panel, event, nullptr, 0, 0);
}

QWidget* CtrlWidget(int panel, int control) {
    Control* c = findCtrl(panel, control);
    return c ? c->w : nullptr;
}

} // namespace runtime::detail
