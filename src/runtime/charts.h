// The graph controls of the panel, drawn with Qt Charts.
#pragma once

#include <QtCharts/QChartView>
#include <deque>
#include <vector>

class QLineSeries;
class QTimer;
class QValueAxis;

namespace runtime::detail {

// Strip chart: several traces that scroll as values are appended.
class StripChart : public QChartView {
    Q_OBJECT
    Q_PROPERTY(int traces READ traces WRITE setTraces)
    Q_PROPERTY(double yMin READ yMin WRITE setYMin)
    Q_PROPERTY(double yMax READ yMax WRITE setYMax)
    Q_PROPERTY(QString traceNames READ traceNames WRITE setTraceNames)
    Q_PROPERTY(QString traceColors READ traceColors WRITE setTraceColors)
    Q_PROPERTY(QString yTitle READ yTitle WRITE setYTitle)
    Q_PROPERTY(QString xTitle READ xTitle WRITE setXTitle)
  public:
    explicit StripChart(QWidget* parent = nullptr);

    int traces() const { return int(series_.size()); }
    void setTraces(int n);
    double yMin() const { return yMin_; }
    void setYMin(double v);
    double yMax() const { return yMax_; }
    void setYMax(double v);
    QString traceNames() const { return names_; }
    void setTraceNames(const QString& s);
    QString traceColors() const { return colors_; }
    void setTraceColors(const QString& s);
    QString yTitle() const;
    void setYTitle(const QString& s);
    QString xTitle() const;
    void setXTitle(const QString& s);

    void setPointsPerScreen(int n);
    int pointsPerScreen() const { return pps_; }
    // Values of all traces interleaved: v[0] trace 1, v[1] trace 2, ...
    void append(const std::vector<double>& values);
    // Forgets every point of every trace.
    void clear();
    void setTraceVisible(int trace, bool on);
    bool traceVisible(int trace) const;
    std::vector<double> traceData(int trace) const;
    int appendCount() const { return appends_; }

  private:
    void rebuild();
    void redraw();
    QTimer* redrawTimer_;
    QChart* chart_;
    QValueAxis* ax_;
    QValueAxis* ay_;
    std::vector<QLineSeries*> series_;
    std::vector<std::deque<double>> data_;
    std::vector<bool> visible_;
    QString names_, colors_;
    double yMin_ = 0, yMax_ = 255;
    int pps_ = 101;
    int appends_ = 0;
};

// XY graph of plots given as whole arrays.
class Graph : public QChartView {
    Q_OBJECT
    Q_PROPERTY(double xMin READ xMin WRITE setXMin)
    Q_PROPERTY(double xMax READ xMax WRITE setXMax)
    Q_PROPERTY(double yMin READ yMin WRITE setYMin)
    Q_PROPERTY(double yMax READ yMax WRITE setYMax)
    Q_PROPERTY(double xOffset READ xOffset WRITE setXOffset)
    Q_PROPERTY(QString xTitle READ xTitle WRITE setXTitle)
    Q_PROPERTY(QString yTitle READ yTitle WRITE setYTitle)
    Q_PROPERTY(QString look READ look WRITE setLook)
    Q_PROPERTY(QString plotNames READ plotNames WRITE setPlotNames)
  public:
    explicit Graph(QWidget* parent = nullptr);
    double xMin() const { return xMin_; }
    void setXMin(double v);
    double xMax() const { return xMax_; }
    void setXMax(double v);
    double yMin() const { return yMin_; }
    void setYMin(double v);
    double yMax() const { return yMax_; }
    void setYMax(double v);
    // Added to the point index on the x axis (1 numbers the first sample 1).
    double xOffset() const { return xOffset_; }
    void setXOffset(double v) { xOffset_ = v; }
    QString xTitle() const;
    void setXTitle(const QString& s);
    QString yTitle() const;
    void setYTitle(const QString& s);
    // "points": lines through marked points; "needles": a base line with a vertical
    // needle at every non-zero point (markers on a percent scale).
    QString look() const { return look_; }
    void setLook(const QString& s) { look_ = s; }
    QString plotNames() const { return plotNames_; }
    void setPlotNames(const QString& s) { plotNames_ = s; }

    struct Plot {
        std::vector<double> y;
        int color;
        int style;
        QLineSeries* series;
    };
    void addPlot(std::vector<double> y, int style, int color);
    void clearPlots();
    const std::vector<Plot>& plots() const { return plots_; }

  private:
    QChart* chart_;
    QValueAxis* ax_;
    QValueAxis* ay_;
    std::vector<Plot> plots_;
    std::vector<QLineSeries*> spare_; // emptied series kept for the next plots
    double xMin_ = 0, xMax_ = 100, yMin_ = 0, yMax_ = 255, xOffset_ = 0;
    QString look_ = "points";
    QString plotNames_;
};

} // namespace runtime::detail
