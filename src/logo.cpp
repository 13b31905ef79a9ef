#include "logo.h"

#include "panel_ids.h"
#include "runtime/runtime.h"

using namespace runtime;

namespace logo {

int textIDsoft = 0;

namespace {

const char Title[] = "VARNO-Redev V3.0";
const char Company[] = "VARNO-Redev project";
const char Address[] = "Open tools for optical edge sensors";
const char Phone[] = "Service: see README";
const char Web[] = "varno-redev.example";

void makeLabel(int control, const char* text, int left, int top, int pointSize, int bg, int fg) {
    const int pnl = Varnov30::panel;
    control = NewCtrl(pnl, CTRL_TEXT_MSG, "", top, left);
    SetCtrlAttribute(pnl, control, ATTR_TEXT_FONT, VAL_APP_META_FONT);
    SetCtrlAttribute(pnl, control, ATTR_TEXT_BGCOLOR, bg);
    SetCtrlAttribute(pnl, control, ATTR_TEXT_COLOR, fg);
    SetCtrlAttribute(pnl, control, ATTR_TEXT_POINT_SIZE, pointSize);
    SetCtrlVal(pnl, control, text);
}

using LabelFn = void (*)(int, const char*, int, int, int);

struct Line {
    const char* text;
    int left, top, size;
};

struct Variant {
    int frame;
    int picTop, picLeft;
    const char* bitmap; // nullptr: no bitmap
    LabelFn label;
    Line lines[4];
    int count;
};

const Variant variants[12] = {
    {0xFFFFFF, 5, 640, nullptr, ShowInfoText2, {{Title, 220, 20, 22}}, 1},
    {0xFFFFFF, 5, 485, "Ko1.bmp", ShowInfoText1,
     {{Title, 220, 20, 22}, {Company, 15, 13, 14}, {Phone, 15, 32, 14}}, 3},
    {0xFFFFFF, 5, 540, "Ko2.bmp", ShowInfoText2,
     {{Title, 220, 20, 22}, {Address, 15, 21, 14}, {Phone, 15, 37, 14}, {Company, 15, 5, 14}}, 4},
    {0xFFFFFF, 6, 415, "Ko3.bmp", ShowInfoText1, {{Title, 20, 16, 25}}, 1},
    {0xFFFFFF, 6, 475, "Ko4.bmp", ShowInfoText1, {{Title, 20, 16, 25}}, 1},
    {0x0080FF, 6, 168, "Ko.bmp", ShowInfoText4,
     {{Title, 218, 30, 18}, {Company, 15, 5, 12}, {Phone, 15, 20, 12}, {Web, 15, 35, 12}}, 4},
    {0xFFFFFF, 6, 445, "Ko6.bmp", ShowInfoText2,
     {{Title, 250, 25, 22}, {Address, 15, 20, 10}, {Phone, 15, 35, 10}, {Company, 15, 5, 10}}, 4},
    {0xFFFFFF, 5, 495, "Ko7.bmp", ShowInfoText1,
     {{Title, 240, 20, 22}, {Company, 15, 13, 14}, {Phone, 15, 32, 14}}, 3},
    {0xFFFFFF, 5, 435, "Ko8.bmp", ShowInfoText1,
     {{Title, 195, 20, 22}, {Company, 15, 13, 14}, {Phone, 15, 32, 14}}, 3},
    {0xFFFFFF, 2, 5, "Ko9.bmp", ShowInfoText3, {{Title, 225, 20, 22}}, 1},
    {0xFFFFFF, 6, 480, "Ko10.bmp", ShowInfoText1, {{Title, 20, 16, 25}}, 1},
    {0xFFFFFF, 6, 480, "Ko11.bmp", ShowInfoText1, {{Title, 20, 16, 25}}, 1},
};

} // namespace

void ShowInfoText1(int control, const char* text, int left, int top, int pointSize) {
    makeLabel(control, text, left, top, pointSize, VAL_WHITE, VAL_GRAY);
}
void ShowInfoText2(int control, const char* text, int left, int top, int pointSize) {
    makeLabel(control, text, left, top, pointSize, VAL_WHITE, VAL_BLACK);
}
void ShowInfoText3(int control, const char* text, int left, int top, int pointSize) {
    makeLabel(control, text, left, top, pointSize, VAL_TRANSPARENT, VAL_WHITE);
}
void ShowInfoText4(int control, const char* text, int left, int top, int pointSize) {
    makeLabel(control, text, left, top, pointSize, 0x0080FF, VAL_WHITE);
}

void ShowLogo(int variant) {
    if (variant < 0 || variant > 11) return;
    const Variant& v = variants[variant];
    const int pnl = Varnov30::panel;
    SetCtrlAttribute(pnl, PANEL_LOGO_FRAME, ATTR_FRAME_COLOR, v.frame);
    SetCtrlAttribute(pnl, PANEL_LOGO, ATTR_TOP, v.picTop);
    SetCtrlAttribute(pnl, PANEL_LOGO, ATTR_LEFT, v.picLeft);
    if (v.bitmap) DisplayImageFile(pnl, PANEL_LOGO, v.bitmap);
    for (int i = 0; i < v.count; ++i)
        v.label(textIDsoft, v.lines[i].text, v.lines[i].left, v.lines[i].top, v.lines[i].size);
}

} // namespace logo
