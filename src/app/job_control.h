// How the main window starts and watches a conversion. A normal run uses the conversion job's
// own worker thread; tests may put a controllable stand-in in its place.
#pragma once

class ConversionWindow;

class JobControl {
public:
    virtual ~JobControl() = default;
    // Starts a job that talks to window; false when one is already running.
    virtual bool Start(ConversionWindow& window) = 0;
    virtual bool IsRunning() = 0;
    // Waits for the job to end; only called once IsRunning() answered false or on shutdown.
    virtual void Join() = 0;
};

// The job of the conversion engine on its worker thread, for the process-wide settings.
class WorkerJobControl : public JobControl {
public:
    bool Start(ConversionWindow& window) override;
    bool IsRunning() override;
    void Join() override;
};
