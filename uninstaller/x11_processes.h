// The process layer on an X11 desktop. An application is a client of the
// window manager's list (_NET_CLIENT_LIST), grouped by _NET_WM_PID; its quit
// request is the polite close of each of its windows. A desktop-type client
// stands for the Finder, a dock-type client for the protected system process.
#pragma once

#include "processes.h"

#include <memory>
#include <vector>

namespace zentrova::uninstaller {

class X11ProcessLayer : public ProcessLayer {
  public:
    X11ProcessLayer();
    ~X11ProcessLayer() override;

    OSErr GetCurrentProcess(ProcessSerialNumber* psn) override;
    OSErr GetNextProcess(ProcessSerialNumber* psn) override;
    OSErr SameProcess(const ProcessSerialNumber& a, const ProcessSerialNumber& b,
                      bool* result) override;
    OSErr GetProcessInformation(const ProcessSerialNumber& psn, ProcessInfoRec* info) override;
    OSErr Gestalt(OSType selector, std::int32_t* response) override;
    OSErr SendQuitRequest(const ProcessSerialNumber& psn) override;

  private:
    struct Display;
    struct Application {
        std::uint32_t pid = 0;
        std::vector<std::uint32_t> windows; // in the client list's order
        OSType signature = 0;
        OSType type = 0;
    };
    void TakeSnapshot();
    const Application* Find(const ProcessSerialNumber& psn) const;

    std::unique_ptr<Display> display_;
    std::vector<Application> applications_;
};

} // namespace zentrova::uninstaller
