#pragma once

#include <functional>

class QWidget;

// The controller whose view fills the main window. The first call of view()
// loads the view and runs the controller's whole start-up before it returns.
class MainContentController {
public:
    virtual ~MainContentController() = default;
    virtual QWidget* view() = 0;
    // Said before the first view(): the window starts closed, so what only
    // an open window needs can wait until it is first shown.
    virtual void setViewStartsHidden(bool) { }
    // Runs `show` once the view has something drawn to show (at once here).
    virtual void whenReadyToShow(std::function<void()> show) { show(); }
};
