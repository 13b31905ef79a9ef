#include "capture.h"

#include "panel_ids.h"
#include "com232.h"
#include "recording/record.h"
#include "text/isotime.h"
#include "runtime/log.h"
#include "runtime/runtime.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

using namespace runtime;

namespace capture {

namespace {

int pnl() {
    return Varnov30::panel;
}

std::string startupFile;
double shownAt = 0.0; // when the row count was last shown
char chosenFile[260] = {};

// When the record awaiting its confirmation arrived (the link holds the record itself).
struct Arrival {
    bool held = false;
    unsigned char hysteresis = 0;
    double time = 0.0;
    char iso[40] = {};
} arrival;

const char* baseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

void showState(const std::string& text, bool failed) {
    SetCtrlVal(pnl(), PANEL_RECORD_ROWS, text.c_str());
    SetCtrlAttribute(pnl(), PANEL_RECORD_ROWS, ATTR_TEXT_COLOR, failed ? VAL_RED : VAL_BLACK);
}

void showRows() {
    showState(std::to_string(record::Rows()) + (record::Rows() == 1 ? " row in " : " rows in ") +
                  baseName(record::Path()),
              false);
}

// A recording that could not start or had to stop: said on the panel (no pop-up, the
// acquisition may be running) and once on stderr.
void showFailure(const char* what) {
    log::Warning(log::Record, std::string("varno: ") + what + ": " + record::LastError());
    showState(std::string(what) + ": " + record::LastError(), true);
    SetCtrlVal(pnl(), PANEL_RECORD, 0);
}

// A few times a second while recording, acquiring or not: a file deleted, renamed or
// replaced meanwhile ends the recording, said as a write error is.
constexpr double filePeriod = 0.25;

void lookAtFile() {
    if (!record::Active()) {
        StopTicker(lookAtFile);
        return;
    }
    if (!record::StillInPlace()) {
        StopTicker(lookAtFile);
        showFailure("Recording stopped");
    }
}

bool start(const char* path) {
    arrival.held = false;
    if (!record::Start(path, Timer())) {
        showFailure("Recording not started");
        return false;
    }
    SetCtrlVal(pnl(), PANEL_RECORD, 1);
    showRows();
    StartTicker(lookAtFile, filePeriod);
    return true;
}

void stop() {
    StopTicker(lookAtFile);
    if (!record::Active()) return;
    record::Stop();
    showState("Stopped: " + std::to_string(record::Rows()) + " rows in " + baseName(record::Path()),
              false);
}

bool endsWith(const std::string& s, const char* tail) {
    const std::size_t n = std::strlen(tail);
    if (s.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != tail[i]) return false;
    return true;
}

void exportMessage(const std::string& text) {
    MessagePopup("Export", text.c_str());
}

// Why nothing was saved: the name is taken by something that is no file (a device, a FIFO,
// a folder), which is left as it is.
std::string notAFile(const std::string& file) {
    const char* what = "a special file";
    ExaminePath(file.c_str(), &what);
    return "The name\n" + file + "\nis " + what +
           ", not a regular file: it was left as it is and nothing was saved.\n"
           "Please choose another name.";
}

int graphOnView() {
    for (int g : {PANEL_GRAPH_JMPBUF, PANEL_GRAPH_ADJ, PANEL_GRAPH_RAW}) {
        int on = 0;
        if (GetCtrlAttribute(pnl(), g, ATTR_VISIBLE, &on) == 0 && on) return g;
    }
    return PANEL_GRAPH_RAW;
}

} // namespace

void SetStartupFile(const char* path) {
    startupFile = path ? path : "";
}

void Init() {
    SetCtrlVal(pnl(), PANEL_RECORD, 0);
    showState("Not recording", false);
    if (!startupFile.empty()) start(startupFile.c_str());
}

void Finish() {
    stop();
}

void Arrived() {
    arrival.held = record::Active();
    if (!arrival.held) return;
    arrival.hysteresis = com232::hysteresis;
    arrival.time = Timer();
    text::IsoNow(arrival.iso, sizeof arrival.iso);
}

void Confirmed(const unsigned char* rec) {
    if (!arrival.held) return;
    arrival.held = false;
    if (!record::Active()) return;
    if (!record::Append(rec, arrival.hysteresis, arrival.time, arrival.iso)) {
        StopTicker(lookAtFile);
        showFailure("Recording stopped");
        return;
    }
    // The count on the panel follows a few times a second: redrawing it for every row
    // would cost the acquisition more than writing the row.
    const double now = Timer();
    if (record::Rows() == 1 || now - shownAt >= 0.25) {
        shownAt = now;
        showRows();
    }
}

void AcquisitionEnded() {
    if (record::Active()) showRows();
}

void ToggleRecord() {
    int on = 0;
    GetCtrlVal(pnl(), PANEL_RECORD, &on);
    if (!on) {
        stop();
        return;
    }
    if (record::Active()) return; // already recording
    char dir[260] = {};
    if (GetUserDir(dir) < 0) dir[0] = '\0';
    const int r = FileSelectPopup(dir, "recording.csv", "*.csv", "Record live data", 0, 0, 1, 1, 1,
                                  chosenFile);
    if (r < 1) {
        SetCtrlVal(pnl(), PANEL_RECORD, 0);
        if (r == UIE_BUFFER_TOO_SMALL)
            showState("Recording not started: the chosen path is too long", true);
        return;
    }
    start(chosenFile);
}

int WriteJumpBufferCsv(const char* path, const unsigned char* jumpbuf, unsigned char threshold) {
    // Numbered as the graph's axis numbers them.
    const std::string text = record::JumpBufferCsv("sample,value,threshold", jumpbuf, threshold);
    return WriteWholeFile(path, text.data(), text.size());
}

void Export(const unsigned char* jumpbuf, unsigned char threshold) {
    const int graph = graphOnView();
    const bool jump = graph == PANEL_GRAPH_JMPBUF;
    char dir[260] = {};
    if (GetUserDir(dir) < 0) dir[0] = '\0';
    char path[260] = {};
    const int r =
        FileSelectPopup(dir, jump ? "jumpbuffer.png" : "graph.png", jump ? "*.png *.csv" : "*.png",
                        "Export the graph", 0, 0, 0, 1, 1, path); // the endings are checked below
    if (r == UIE_BUFFER_TOO_SMALL) {
        exportMessage("The chosen path is too long: at most 259 characters are possible.\n"
                      "Please choose a shorter path.");
        return;
    }
    if (r < 1) return;
    std::string file = path;
    if (endsWith(file, ".csv")) {
        if (!jump) {
            exportMessage("Only the jump buffer can be saved as CSV (read it with GetBuff).\n"
                          "The graph on view is saved as a picture: choose a name ending .png.");
            return;
        }
        const int rc = WriteJumpBufferCsv(file.c_str(), jumpbuf, threshold);
        if (rc == FILE_NOT_A_FILE)
            exportMessage(notAFile(file));
        else if (rc != FILE_OK)
            exportMessage("The file\n" + file +
                          "\ncould not be written (the folder may be protected or the disk "
                          "full).");
        return;
    }
    if (!endsWith(file, ".png")) {
        if (file.find('.', file.rfind('/') + 1) != std::string::npos) {
            exportMessage(std::string("Pictures are saved as PNG: choose a name ending .png") +
                          (jump ? ",\nor .csv for the values of the jump buffer." : "."));
            return;
        }
        file += ".png";
    }
    const int rc = SaveGraphImage(pnl(), graph, file.c_str());
    if (rc == FILE_NOT_A_FILE)
        exportMessage(notAFile(file));
    else if (rc != 0)
        exportMessage("The picture\n" + file +
                      "\ncould not be saved (the folder may be protected or the disk full).");
}

} // namespace capture
