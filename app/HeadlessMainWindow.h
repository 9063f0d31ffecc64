// HeadlessMainWindow: the program's main loop when there is no display (or
// with -nogui).  Every 300 ms it looks at the stop request, the application
// stop event and the instance event; its first tick starts the listener.
// It is also the MainWindowLink of the proxy: notices are logged, the
// listening address is printed, status texts are dropped.
#pragma once

#include "common/CVEvent.h"
#include "proxy/MainWindowLink.h"

#include <atomic>
#include <memory>

class HeadlessMainWindow : public MainWindowLink
{
public:
    static constexpr int kTickMs = 300;

    HeadlessMainWindow(CVEvent& instanceEvent, CVEvent& applicationStop,
                       const std::atomic<bool>& signalled);

    // Runs until a stop; returns when the program should shut down.
    void run();

    void sessionStarted() override;
    void sessionEnded() override;
    void listenerReady(int port) override;
    void listenerFailed(const std::string& text) override;
    void statusText(const std::string& text) override;

private:
    // One tick; false when the program should stop.
    bool tick();

    CVEvent& m_instanceEvent;
    CVEvent& m_applicationStop;
    const std::atomic<bool>& m_signalled;
    std::unique_ptr<CVEvent> m_stopRequest;
    bool m_listenerStarted = false;
    std::atomic<int> m_activeSessions{0};
};
