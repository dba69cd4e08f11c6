#pragma once

namespace tolvane {

// Receives a transfer's notifications in the order the worker posts them: stage 2, progress
// notifications, stage 4 (image transfers), then exactly one of stage 5 or an error.
class DownloadObserver {
public:
    virtual ~DownloadObserver() = default;
    virtual void error(int code) = 0;
    virtual void stage(int stage) = 0;
    virtual void progress(int percent) = 0;
};

} // namespace tolvane
