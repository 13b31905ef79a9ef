// Serial back end over QSerialPort: real ports, USB adapters and pseudo-terminals.
#include "internal.h"
#include "runtime.h"
#include "serial_line.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>

namespace runtime::detail {

namespace {

// The one place where QSerialPort's errors become the run-time's codes.
int rsCode(QSerialPort::SerialPortError e) {
    switch (e) {
    case QSerialPort::NoError:
        return 0;
    case QSerialPort::DeviceNotFoundError:
        return RS_NO_PORT_FOUND;
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
        return RS_CANNOT_OPEN_PORT;
    case QSerialPort::UnsupportedOperationError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        return RS_UNKNOWN_IO_ERROR;
    case QSerialPort::TimeoutError:
        return RS_TIMEOUT;
    case QSerialPort::NotOpenError:
        return RS_PORT_NOT_OPEN;
    default:
        return RS_UNKNOWN_SYS_ERROR;
    }
}

// Errors after which the device is gone: the port closes at once, or a vanished device
// would raise read errors without end and spin a core.
bool fatal(QSerialPort::SerialPortError e) {
    return e == QSerialPort::ReadError || e == QSerialPort::WriteError ||
           e == QSerialPort::ResourceError;
}

class QtLine final : public SerialLine {
  public:
    explicit QtLine(std::unique_ptr<QSerialPort> sp) : sp_(std::move(sp)) {
        // Qt's own buffer is unbounded here; the front end's queue keeps the limit, so
        // Qt never stops reading because its buffer is full.
        sp_->setReadBufferSize(0);
        sp_->clearError();
        QObject::connect(sp_.get(), &QSerialPort::errorOccurred, sp_.get(),
                         [this](QSerialPort::SerialPortError e) {
                             if (fatal(e) && !lost_) {
                                 lost_ = true;
                                 reason_ = sp_->errorString().toStdString();
                                 sp_->close();
                                 // Idle in the event loop no pump runs: have the front
                                 // end look now, so the loss is told without delay.
                                 QTimer::singleShot(0, QCoreApplication::instance(),
                                                    [] { ServiceSerial(); });
                             }
                         });
    }
    ~QtLine() override {
        sp_->disconnect();
        sp_->close();
        // The port may be closing from inside one of its own signals.
        sp_.release()->deleteLater();
    }

    int write(const char* data, int n) override {
        if (lost_) return RS_PORT_NOT_OPEN;
        const qint64 w = sp_->write(data, n);
        if (w < 0) return RS_UNKNOWN_IO_ERROR;
        // Hand it to the line now, not at a later event pump. An error on the way means
        // the bytes never left: say so rather than report them written.
        sp_->flush();
        if (lost_) return RS_UNKNOWN_IO_ERROR;
        return int(w);
    }

    void pull(std::vector<std::uint8_t>& queue, std::size_t cap) override {
        if (lost_) return;
        char tmp[4096];
        for (;;) {
            const qint64 n = sp_->read(tmp, sizeof tmp);
            if (n <= 0) break;
            const std::size_t room = cap > queue.size() ? cap - queue.size() : 0;
            const std::size_t keep = std::min<std::size_t>(room, std::size_t(n));
            queue.insert(queue.end(), tmp, tmp + keep); // the rest overflows
        }
    }

    bool wait(double deadline) override {
        if (lost_) return false;
        const double left = deadline - Timer();
        if (left <= 0) return false;
        if (!sp_->waitForReadyRead(std::max(1, int(left * 1000)))) {
            if (!lost_) sp_->clearError();
            return false; // nothing more by the deadline (or an error): never spin
        }
        return !lost_;
    }

    void discardInput() override {
        if (!lost_) sp_->clear(QSerialPort::Input);
    }
    void discardOutput() override {
        if (!lost_) sp_->clear(QSerialPort::Output);
    }
    int setHandshake(bool cts) override {
        if (lost_) return RS_PORT_NOT_OPEN;
        return sp_->setFlowControl(cts ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl)
                   ? 0
                   : RS_UNKNOWN_IO_ERROR;
    }
    bool alive() override { return !lost_ && sp_->isOpen(); }
    std::string lostReason() const override { return reason_; }

  private:
    std::unique_ptr<QSerialPort> sp_;
    bool lost_ = false;
    std::string reason_;
};

QSerialPort::Parity parityOf(int p) {
    switch (p) {
    case 1:
        return QSerialPort::OddParity;
    case 2:
        return QSerialPort::EvenParity;
    case 3:
        return QSerialPort::MarkParity;
    case 4:
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

} // namespace

std::unique_ptr<SerialLine> OpenDeviceLine(const std::string& path, const LineSettings& s,
                                           int& code, std::string& reason) {
    if (!QCoreApplication::instance()) {
        code = RS_UNKNOWN_SYS_ERROR;
        reason = "the run-time is not started";
        return nullptr;
    }
    // A regular file, FIFO or folder is never opened as a port (a FIFO could hold the
    // opening); ExplainOpenFailure says what it is.
    if (std::string what; NotASerialDevice(path, what)) {
        code = RS_CANNOT_OPEN_PORT;
        reason = "not a serial device";
        return nullptr;
    }
    auto sp = std::make_unique<QSerialPort>(QString::fromStdString(path));
    if (!sp->open(QIODevice::ReadWrite)) {
        code = rsCode(sp->error());
        if (code == 0 || code == RS_TIMEOUT) code = RS_UNKNOWN_SYS_ERROR;
        reason = sp->errorString().toStdString();
        return nullptr;
    }
    const bool ok =
        sp->setBaudRate(qint32(s.baud)) &&
        sp->setDataBits(QSerialPort::DataBits(std::clamp(s.dataBits, 5, 8))) &&
        sp->setParity(parityOf(s.parity)) &&
        sp->setStopBits(s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop) &&
        sp->setFlowControl(QSerialPort::NoFlowControl);
    if (!ok) {
        code = RS_UNKNOWN_IO_ERROR;
        reason = sp->errorString().toStdString();
        sp->close();
        return nullptr;
    }
    code = 0;
    return std::make_unique<QtLine>(std::move(sp));
}

} // namespace runtime::detail
