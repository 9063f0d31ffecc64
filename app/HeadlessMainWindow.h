// HeadlessMainWindow: the program's main loop when there is no display (or
// with -nogui).  It ticks every 300 ms (MainTicker); with no settings window
// to open, a second start is only logged.  It is also the MainWindowLink of
// the proxy: the listening address is printed, a listener failure goes to
// standard error and ends the loop, status texts are dropped.
#pragma once

#include "app/MainTicker.h"
#include "proxy/MainWindowLink.h"

#include <atomic>

class HeadlessMainWindow : public MainWindowLink
{
public:
    HeadlessMainWindow(CVEvent& instanceEvent, CVEvent& applicationStop,
                       const std::atomic<bool>& signalled);

    // Runs until a stop; returns when the program should shut down.
    void run();

    void sessionStarted() override;
    void sessionEnded() override;
    void listenerReady(int port) override;
    void listenerFailed(const std::string& text) override;
    void statusText(const std::string& text) override;

    bool listenerHasFailed() const { return m_listenerFailed; }

private:
    MainTicker m_ticker;
    std::atomic<int> m_activeSessions{0};
    std::atomic<bool> m_listenerFailed{false};
};
