// The application object: builds the main window and keeps the services it relies on.
#pragma once

#include <memory>

#include <wx/app.h>

class JobControl;
class Prompter;

class COmbrikApp : public wxApp {
public:
    COmbrikApp();
    ~COmbrikApp() override;
    bool OnInit() override;

private:
    std::unique_ptr<Prompter> prompter_;
    std::unique_ptr<JobControl> jobs_;
};
