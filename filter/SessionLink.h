// SessionLink: what the filter needs of the session whose message it is
// judging.  The session implements it; the filter never sees the session's
// own type.
#pragma once

class SessionLink
{
public:
    virtual ~SessionLink() = default;
    // The size of the message being judged: the server's figure, or else
    // the spooled file's.
    virtual long currentMessageSize() const = 0;
    // Only the header of the message being judged is spooled so far.
    virtual bool isCurrentHeaderOnly() const = 0;
    // Replaces a header-only spool with the whole message and clears the
    // header-only state; leaves everything as it was when it cannot.
    virtual void fetchWholeMessage() = 0;
};
