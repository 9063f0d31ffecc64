#include "app/MainTicker.h"

#include "app/AppEvents.h"
#include "common/CEventLog.h"
#include "proxy/CAcceptor.h"

MainTicker::MainTicker(CVEvent& instanceEvent, CVEvent& applicationStop, const std::atomic<bool>& signalled)
    : m_instanceEvent(instanceEvent), m_applicationStop(applicationStop), m_signalled(signalled)
{
    bool existed = false;
    m_stopRequest = CVEvent::create(appevents::kStopRequest, CVEvent::Reset::Auto, existed);
    if (!m_stopRequest || existed)
        CEventLog().LogEvent(1, "Unable to create the stop request event");
}

MainTicker::Outcome MainTicker::tick(bool settingsOpen)
{
    if (m_signalled.load()) {
        CEventLog().LogEvent(4, "Stop signal received");
        return Outcome::Exit;
    }
    if (m_stopRequest && m_stopRequest->isCreator() && m_stopRequest->test()) {
        CEventLog().LogEvent(4, "Stop request received");
        return Outcome::Exit;
    }
    // An open settings window holds the application stop back until it
    // closes: the user's changes are not thrown away under them.
    if (!settingsOpen && m_applicationStop.test()) {
        CEventLog().LogEvent(4, "Application stop event set");
        return Outcome::Exit;
    }
    Outcome outcome = Outcome::Continue;
    if (!settingsOpen && m_instanceEvent.test())
        outcome = Outcome::OpenSettings;
    if (!m_listenerStarted) {
        m_listenerStarted = true;
        try {
            new CAcceptor();   // owns itself: ends and deletes itself
        } catch (...) {
            CEventLog().LogEvent(1, "Unable to start the listener thread");
        }
    }
    return outcome;
}
