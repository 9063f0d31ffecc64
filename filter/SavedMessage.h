// A saved message file judged outside a session: quillfnc -rate and the
// rule editor's test run a message through the rules with a SavedMessage
// standing in for the session, which is made without a thread or a
// connection.
#pragma once

#include "filter/SessionLink.h"

#include <string>

// text as the proxy spools it: CR LF line ends (a bare LF becomes CR LF),
// lines that start with "." stuffed, and the "." line at the end.
std::string asSpooled(const std::string& text);

// The session the filter asks for the message's size; it has nothing more
// to fetch.
class SavedMessage : public SessionLink
{
public:
    long currentMessageSize() const override { return size; }
    bool isCurrentHeaderOnly() const override { return false; }
    void fetchWholeMessage() override {}

    // Reads the message file source and writes it spooled to spool,
    // replacing it; size becomes the original's size.  False when source
    // cannot be read or spool cannot be written (size is then unchanged).
    bool spool(const std::string& source, const std::string& spoolPath);

    long size = 0;
};
