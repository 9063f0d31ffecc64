#include "app/HeadlessMainWindow.h"

#include "common/CEventLog.h"

#include <chrono>
#include <cstdio>
#include <thread>

HeadlessMainWindow::HeadlessMainWindow(CVEvent& instanceEvent, CVEvent& applicationStop,
                                       const std::atomic<bool>& signalled)
    : m_ticker(instanceEvent, applicationStop, signalled)
{
}

void HeadlessMainWindow::run()
{
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(MainTicker::kTickMs));
        const MainTicker::Outcome outcome = m_ticker.tick(false);
        if (outcome == MainTicker::Outcome::Exit || m_listenerFailed)
            return;
        if (outcome == MainTicker::Outcome::OpenSettings)
            CEventLog().LogEvent(4, "Another start asked for the settings window; there is no display");
    }
}

void HeadlessMainWindow::sessionStarted()
{
    ++m_activeSessions;
}

void HeadlessMainWindow::sessionEnded()
{
    if (m_activeSessions > 0)
        --m_activeSessions;
}

void HeadlessMainWindow::listenerReady(int port)
{
    std::printf("Quillfence Pro is listening on 127.0.0.1:%d\n", port);
    std::fflush(stdout);
}

void HeadlessMainWindow::listenerFailed(const std::string& text)
{
    std::fprintf(stderr, "Quillfence Error: %s\n", text.c_str());
    m_listenerFailed = true;
}

void HeadlessMainWindow::statusText(const std::string&) {}
