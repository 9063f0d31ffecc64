// MainTicker: what the main window does every 300 ms, with or without a
// display.
//
// A tick looks, in order, at a stop signal and the stop request ("quillfnc
// -stop"), which end the program at once; then at the application stop
// event, which ends it only while no settings window is open; then at the
// instance event (a second start), which asks for the settings window when
// none is open.  The first tick that goes on starts the listener thread.
#pragma once

#include "common/CVEvent.h"

#include <atomic>
#include <memory>

class MainTicker
{
public:
    static constexpr int kTickMs = 300;

    enum class Outcome {
        Continue,       // nothing to do
        OpenSettings,   // a second start asked for the settings window
        Exit,           // shut the program down
    };

    MainTicker(CVEvent& instanceEvent, CVEvent& applicationStop, const std::atomic<bool>& signalled);

    Outcome tick(bool settingsOpen);
    bool listenerStarted() const { return m_listenerStarted; }

    // Tests: the first tick leaves the listener alone.
    void skipListener() { m_listenerStarted = true; }

private:
    CVEvent& m_instanceEvent;
    CVEvent& m_applicationStop;
    const std::atomic<bool>& m_signalled;
    std::unique_ptr<CVEvent> m_stopRequest;
    bool m_listenerStarted = false;
};
