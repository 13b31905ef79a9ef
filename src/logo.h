// The branding header at the top of the panel.
#pragma once

namespace logo {

extern int textIDsoft;

// Draws header variant 0..11; any other number does nothing.
void ShowLogo(int variant);

void ShowInfoText1(int control, const char* text, int left, int top, int pointSize);
void ShowInfoText2(int control, const char* text, int left, int top, int pointSize);
void ShowInfoText3(int control, const char* text, int left, int top, int pointSize);
void ShowInfoText4(int control, const char* text, int left, int top, int pointSize);

} // namespace logo
