// The PORT selector on a panel: the numbered serial ports, brought up to date each time
// the operator opens the list.
#include "endpoint.h"
#include "internal_ui.h"

#include <QComboBox>
#include <QEvent>
#include <QMouseEvent>

#include <string>

namespace runtime {

namespace {

// The port list is brought up to date each time it is opened: an adapter plugged in
// after start gets the next free number.
class SelectorRefresh : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* obj, QEvent* ev) override {
        auto* box = qobject_cast<QComboBox*>(obj);
        if (!box || !box->isEnabled()) return false;
        const bool opening = (ev->type() == QEvent::MouseButtonPress &&
                              static_cast<QMouseEvent*>(ev)->button() == Qt::LeftButton) ||
                             ev->type() == QEvent::KeyPress;
        if (!opening) return false;
        const QVariant current = box->currentData();
        RescanSerialPorts();
        QSignalBlocker block(box);
        detail::FillPortSelector(box);
        const int idx = box->findData(current);
        if (idx >= 0) box->setCurrentIndex(idx);
        return false;
    }
};

} // namespace

namespace detail {

void FillPortSelector(QComboBox* box) {
    box->clear();
    const int n = SerialPortCount();
    for (int i = 1; i <= n; ++i) {
        const std::string d = runtime::SerialPortLabel(i);
        box->addItem(d.empty() ? QString("COM%1").arg(i)
                               : QString("COM%1  %2").arg(i).arg(QString::fromStdString(d)),
                     i);
    }
}

void WatchPortSelector(QComboBox* box) {
    box->installEventFilter(new SelectorRefresh(box));
}

} // namespace detail

} // namespace runtime
