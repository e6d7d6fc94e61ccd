#pragma once

class QWidget;

// The controller whose view fills the main window. The first call of view()
// loads the view and runs the controller's whole start-up before it returns.
class MainContentController {
public:
    virtual ~MainContentController() = default;
    virtual QWidget* view() = 0;
};
