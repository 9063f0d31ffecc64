// MainWindowLink: what worker threads tell the program's main window.
//
// Sessions and the listener never touch a window; they call the link the
// program installed at start-up.  Calls come from worker threads and must
// not block.  Without a link installed the notices are dropped.
#pragma once

#include <string>

class MainWindowLink
{
public:
    virtual ~MainWindowLink() = default;

    virtual void sessionStarted() = 0;
    virtual void sessionEnded() = 0;
    virtual void listenerReady(int port) = 0;
    // The listener could not start; text says why.
    virtual void listenerFailed(const std::string& text) = 0;
    // A status text for the popup, at most 63 characters.
    virtual void statusText(const std::string& text) = 0;
};

// Installed once at start-up, before the listener starts; null removes it.
void setMainWindowLink(MainWindowLink* link);
MainWindowLink* mainWindowLink();
