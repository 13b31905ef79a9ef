// The tests' hooks into the seam's panels: pop-up answers, events fired at controls, and
// what the panel's controls and graphs hold. The program never calls these.
#include "charts.h"
#include "internal_ui.h"
#include "panel_registry.h"
#include "testhooks.h"

#include <QAbstractButton>
#include <QLabel>

namespace runtime {

using namespace detail;

namespace test {

void SetPopupHandler(std::function<PopupAnswer(const Popup&)> handler) {
    RoutePopups(std::move(handler));
}
void ClearPopupHandler() {
    RoutePopups({});
}

int FireEvent(int panel, int control, int event, int d1, int d2) {
    return dispatch(panel, control, event, d1, d2);
}
int FirePanelEvent(int panel, int event) {
    return dispatchPanel(panel, event);
}

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
        for (auto& [id, c] : p->ctrls)
            ids.push_back(id);
    return ids;
}

int TypeMismatchCount() {
    return typeMismatches;
}

std::vector<PlotInfo> GraphPlots(int panel, int control) {
    std::vector<PlotInfo> out;
    Control* c = findCtrl(panel, control);
    if (!c) return out;
    if (auto* g = qobject_cast<detail::Graph*>(c->w))
        for (const auto& p : g->plots())
            out.push_back({p.y, p.color, p.style});
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

bool QuitRequested() {
    return quitFlag;
}
void ResetQuit() {
    quitFlag = false;
}

} // namespace test

} // namespace runtime
