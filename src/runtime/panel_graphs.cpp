// The graph operations on the panel's strip chart and graph controls (charts.cpp draws).
#include "charts.h"
#include "panel_registry.h"

#include <vector>

namespace runtime {

using namespace detail;

namespace {
bool toDoubles(const void* array, int count, int dataType, std::vector<double>& out) {
    if (!array || count < 0) return false;
    out.resize(std::size_t(count));
    if (dataType == VAL_UNSIGNED_CHAR)
        for (int i = 0; i < count; ++i)
            out[i] = static_cast<const unsigned char*>(array)[i];
    else if (dataType == VAL_DOUBLE)
        for (int i = 0; i < count; ++i)
            out[i] = static_cast<const double*>(array)[i];
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
    for (int i = start; i < count; i += skip + 1)
        v.push_back(all[std::size_t(i)]);
    s->append(v);
    return 0;
}

int ClearStripChart(int panel, int control) {
    Control* c = findCtrl(panel, control);
    if (!c) return UIE_BAD_CONTROL;
    auto* s = qobject_cast<detail::StripChart*>(c->w);
    if (!s) return UIE_TYPE_MISMATCH;
    s->clear();
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

} // namespace runtime
