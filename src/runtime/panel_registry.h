// The panels and controls loaded from panel files, shared by the seam's panel files
// (loader, values, graphs, test hooks). Not for the application modules.
#pragma once

#include "runtime.h"

#include <QColor>

#include <map>
#include <string>

class QAbstractButton;
class QLabel;
class QWidget;

namespace runtime::detail {

enum class Kind {
    Numeric,
    Ring,
    Toggle,
    Command,
    String,
    Decoration,
    Picture,
    Strip,
    Graph,
    TextMsg
};
enum class DType { None, UChar, Int, Double, String };

inline const char* kindName(Kind k) {
    switch (k) {
    case Kind::Numeric:
        return "numeric";
    case Kind::Ring:
        return "ring";
    case Kind::Toggle:
        return "toggle";
    case Kind::Command:
        return "command";
    case Kind::String:
        return "string";
    case Kind::Decoration:
        return "decoration";
    case Kind::Picture:
        return "picture";
    case Kind::Strip:
        return "strip";
    case Kind::Graph:
        return "graph";
    case Kind::TextMsg:
        return "textmsg";
    }
    return "";
}

inline const char* typeName(DType t) {
    switch (t) {
    case DType::UChar:
        return "uchar";
    case DType::Int:
        return "int";
    case DType::Double:
        return "double";
    case DType::String:
        return "string";
    case DType::None:
        return "";
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

extern std::map<std::string, CallbackEntry> callbackTable;
extern std::map<int, Panel> panels;
extern int nextHandle;
extern int typeMismatches;
extern int suppressEvents; // > 0 while the program itself changes a control

Panel* findPanel(int handle);
Control* findCtrl(int panel, int control);
// A read or write with the wrong type: counted and logged, never carried out.
int mismatch(const Control& c, const char* wanted);
QColor rgb(int v);
void updateToggleText(QAbstractButton* b);
// Delivers an event to a control's or the panel's callback.
int dispatch(int panel, int control, int event, int d1 = 0, int d2 = 0);
int dispatchPanel(int panel, int event);

} // namespace runtime::detail
