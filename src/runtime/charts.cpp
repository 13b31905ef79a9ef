#include "charts.h"

#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QGraphicsLayout>
#include <QPen>
#include <QTimer>

namespace runtime::detail {

namespace {

QColor colorOf(int rgb) {
    return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// Grid lines at whole, round values (1, 2, 5 times a power of ten), at most `most` of
// them, so that each label names its line's true value.
void setAxisRange(QValueAxis* axis, double lo, double hi, int most) {
    axis->setRange(lo, hi);
    const double span = hi - lo;
    if (span <= 0) return;
    double step = 1;
    for (double base = 1; step * (most - 1) < span; base *= 10)
        for (double m : {1.0, 2.0, 5.0})
            if ((step = m * base) * (most - 1) >= span) break;
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(step);
}

QChart* makeChart(QChartView* view, QValueAxis*& ax, QValueAxis*& ay) {
    auto* chart = new QChart();
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->setBackgroundRoundness(0);
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    ax = new QValueAxis(chart);
    ay = new QValueAxis(chart);
    QFont f = ax->labelsFont();
    f.setPointSizeF(f.pointSizeF() * 0.85);
    ax->setLabelsFont(f);
    ay->setLabelsFont(f);
    ax->setLabelFormat("%d");
    ay->setLabelFormat("%d");
    chart->addAxis(ax, Qt::AlignBottom);
    chart->addAxis(ay, Qt::AlignLeft);
    view->setChart(chart);
    view->setRenderHint(QPainter::Antialiasing, true);
    view->setFrameShape(QFrame::StyledPanel);
    return chart;
}

} // namespace

// ---- StripChart -------------------------------------------------------------------

StripChart::StripChart(QWidget* parent) : QChartView(parent) {
    chart_ = makeChart(this, ax_, ay_);
    chart_->legend()->setAlignment(Qt::AlignTop);
    // Redrawn on every record: plain lines keep the drawing cheap.
    setRenderHint(QPainter::Antialiasing, false);
    // New values are drawn a few milliseconds later, so that drawing falls into the next
    // wait for the sensor rather than between a reply and the next request.
    redrawTimer_ = new QTimer(this);
    redrawTimer_->setSingleShot(true);
    redrawTimer_->setInterval(5);
    connect(redrawTimer_, &QTimer::timeout, this, &StripChart::redraw);
    setTraces(5);
}

void StripChart::setTraces(int n) {
    if (n < 1 || n > 16) return;
    for (auto* s : series_) {
        chart_->removeSeries(s);
        delete s;
    }
    series_.clear();
    for (int i = 0; i < n; ++i) {
        auto* s = new QLineSeries();
        chart_->addSeries(s);
        s->attachAxis(ax_);
        s->attachAxis(ay_);
        series_.push_back(s);
    }
    data_.assign(n, {});
    visible_.assign(n, true);
    rebuild();
}

void StripChart::setYMin(double v) {
    yMin_ = v;
    setAxisRange(ay_, yMin_, yMax_, 7);
}
void StripChart::setYMax(double v) {
    yMax_ = v;
    setAxisRange(ay_, yMin_, yMax_, 7);
}

void StripChart::clear() {
    for (auto& d : data_)
        d.clear();
    if (!redrawTimer_->isActive()) redrawTimer_->start();
}
void StripChart::setTraceNames(const QString& s) {
    names_ = s;
    rebuild();
}
void StripChart::setTraceColors(const QString& s) {
    colors_ = s;
    rebuild();
}
QString StripChart::yTitle() const {
    return ay_->titleText();
}
void StripChart::setYTitle(const QString& s) {
    ay_->setTitleText(s);
}
QString StripChart::xTitle() const {
    return ax_->titleText();
}
void StripChart::setXTitle(const QString& s) {
    ax_->setTitleText(s);
}

void StripChart::rebuild() {
    static const char* defaults[] = {"#d62728", "#1f77b4", "#2ca02c", "#ff7f0e",
                                     "#7f7f7f", "#9467bd", "#8c564b", "#e377c2"};
    const QStringList names = names_.split(',', Qt::SkipEmptyParts);
    const QStringList colors = colors_.split(',', Qt::SkipEmptyParts);
    for (size_t i = 0; i < series_.size(); ++i) {
        QPen pen(QColor(i < size_t(colors.size()) ? colors[int(i)].trimmed()
                                                  : QString(defaults[i % 8])));
        pen.setWidthF(1.6);
        series_[i]->setPen(pen);
        series_[i]->setName(i < size_t(names.size()) ? names[int(i)].trimmed()
                                                     : QString("trace %1").arg(i + 1));
        series_[i]->setVisible(visible_[i]);
    }
    setAxisRange(ax_, 0, pps_ - 1, 11);
    setAxisRange(ay_, yMin_, yMax_, 7);
}

void StripChart::setPointsPerScreen(int n) {
    if (n < 2 || n > 100000 || n == pps_) return;
    pps_ = n;
    for (auto& d : data_)
        while (int(d.size()) > pps_)
            d.pop_front();
    setAxisRange(ax_, 0, pps_ - 1, 11);
    redraw();
}

void StripChart::append(const std::vector<double>& values) {
    const size_t n = series_.size();
    for (size_t i = 0; i < values.size(); ++i) {
        auto& d = data_[i % n];
        d.push_back(values[i]);
        if (int(d.size()) > pps_) d.pop_front();
    }
    ++appends_;
    if (!redrawTimer_->isActive()) redrawTimer_->start();
}

void StripChart::redraw() {
    QList<QPointF> pts;
    for (size_t t = 0; t < series_.size(); ++t) {
        if (!visible_[t]) continue; // hidden traces are brought up to date when shown
        pts.clear();
        pts.reserve(int(data_[t].size()));
        int x = pps_ - int(data_[t].size()); // the newest point at the right edge
        for (double v : data_[t])
            pts.append(QPointF(x++, v));
        series_[t]->replace(pts);
    }
}

void StripChart::setTraceVisible(int trace, bool on) {
    if (trace < 1 || trace > int(series_.size())) return;
    visible_[trace - 1] = on;
    series_[trace - 1]->setVisible(on);
    if (on) redraw();
}

bool StripChart::traceVisible(int trace) const {
    return trace >= 1 && trace <= int(series_.size()) && visible_[trace - 1];
}

std::vector<double> StripChart::traceData(int trace) const {
    if (trace < 1 || trace > int(series_.size())) return {};
    return {data_[trace - 1].begin(), data_[trace - 1].end()};
}

// ---- Graph --------------------------------------------------------------------------

Graph::Graph(QWidget* parent) : QChartView(parent) {
    chart_ = makeChart(this, ax_, ay_);
    chart_->legend()->setAlignment(Qt::AlignTop);
    setAxisRange(ax_, xMin_, xMax_, 17);
    setAxisRange(ay_, yMin_, yMax_, 7);
}

void Graph::setXMin(double v) {
    xMin_ = v;
    setAxisRange(ax_, xMin_, xMax_, 17);
}
void Graph::setXMax(double v) {
    xMax_ = v;
    setAxisRange(ax_, xMin_, xMax_, 17);
}
void Graph::setYMin(double v) {
    yMin_ = v;
    setAxisRange(ay_, yMin_, yMax_, 7);
}
void Graph::setYMax(double v) {
    yMax_ = v;
    setAxisRange(ay_, yMin_, yMax_, 7);
}
QString Graph::xTitle() const {
    return ax_->titleText();
}
void Graph::setXTitle(const QString& s) {
    ax_->setTitleText(s);
}
QString Graph::yTitle() const {
    return ay_->titleText();
}
void Graph::setYTitle(const QString& s) {
    ay_->setTitleText(s);
}

void Graph::addPlot(std::vector<double> y, int style, int color) {
    // Series are reused: a graph redrawn on every record creates and deletes nothing.
    QLineSeries* s = nullptr;
    if (!spare_.empty()) {
        s = spare_.back();
        spare_.pop_back();
    } else {
        s = new QLineSeries();
        chart_->addSeries(s);
        s->attachAxis(ax_);
        s->attachAxis(ay_);
    }
    QList<QPointF> pts;
    const bool needles = look_ == "needles";
    for (size_t i = 0; i < y.size(); ++i) {
        const double x = double(i) + xOffset_;
        if (needles && y[i] != 0.0) {
            pts.append(QPointF(x, 0));
            pts.append(QPointF(x, y[i]));
            pts.append(QPointF(x, 0));
        } else {
            pts.append(QPointF(x, y[i]));
        }
    }
    s->replace(pts);
    QPen pen(colorOf(color));
    pen.setWidthF(needles ? 3.0 : 1.8);
    s->setPen(pen);
    s->setPointsVisible(!needles);
    if (!needles) s->setMarkerSize(7);
    const QStringList names = plotNames_.split(',', Qt::SkipEmptyParts);
    const int idx = int(plots_.size());
    s->setName(idx < names.size() ? names[idx].trimmed() : QString("plot %1").arg(idx + 1));
    s->setVisible(true);
    for (QLegendMarker* m : chart_->legend()->markers(s))
        m->setVisible(true);
    plots_.push_back({std::move(y), color, style, s});
}

void Graph::clearPlots() {
    for (auto& p : plots_) {
        p.series->clear();
        p.series->setVisible(false);
        for (QLegendMarker* m : chart_->legend()->markers(p.series))
            m->setVisible(false);
        spare_.push_back(p.series);
    }
    plots_.clear();
}

} // namespace runtime::detail
