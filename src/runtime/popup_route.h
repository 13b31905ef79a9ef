// Pop-ups answered without being shown: with a route set, MessagePopup and FileSelectPopup
// hand what they would show to the route, which answers them (a program run without a
// screen to look at, or a test that plays the operator).
#pragma once

#include <functional>
#include <string>

namespace runtime {

struct PopupRequest {
    enum Kind { Message, FileSelect } kind;
    std::string title;
    std::string text;       // message text, or the file filter for a file dialog
    std::string defaultDir; // file dialog only
    std::string defaultFile;
    double time; // Timer() when it opened
};
struct PopupReply {
    int result = 0;   // for a file dialog: 0 none, 1 existing, 2 new file
    std::string path; // for a file dialog
};
using PopupRoute = std::function<PopupReply(const PopupRequest&)>;

// Sets the route (an empty one shows the pop-ups again).
void RoutePopups(PopupRoute route);

} // namespace runtime
