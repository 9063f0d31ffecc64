// CVEvent: a named event that other processes of the same user can open and
// set.
//
// An event exists only while the process that created it is alive: its
// existence is a lock held on "<runtime>/<name>.event" (an open-file-
// description lock, which others can query without taking), and the kernel
// drops it when the creator ends, however it ends.  "Set" is the marker file
// "<runtime>/<name>.set".  An auto-reset event is cleared by the test that
// finds it set; a manual-reset event stays set until reset().
//
// The runtime folder is $XDG_RUNTIME_DIR, else /tmp/quillfence-<uid>
// (created with mode 0700; refused when it belongs to another user or others
// may write it).
#pragma once

#include "common/CommonExport.h"
#include "common/UniqueFd.h"

#include <memory>
#include <string>

class COMMONKIT_API CVEvent
{
public:
    enum class Reset { Auto, Manual };

    // Creates the event, initially clear.  When a live process had already
    // created it, existed is true and the result only opens that event (it
    // can set it).  Null when the runtime folder cannot be used.
    static std::unique_ptr<CVEvent> create(const std::string& name, Reset mode, bool& existed);
    // Opens an event that a live process created; null when there is none.
    static std::unique_ptr<CVEvent> open(const std::string& name, Reset mode = Reset::Auto);

    ~CVEvent();
    CVEvent(const CVEvent&) = delete;
    CVEvent& operator=(const CVEvent&) = delete;

    bool set();
    bool reset();
    // Whether the event is set; an auto-reset event is cleared by a true.
    bool test();
    bool isCreator() const { return m_creator; }

    // The folder the events live in; empty when it cannot be used.
    static std::string runtimeFolder();

private:
    CVEvent(std::string base, Reset mode, bool creator, UniqueFd lock);

    std::string m_base;   // runtime folder + "/" + name
    Reset m_mode;
    bool m_creator;
    UniqueFd m_lock;      // held by the creator for the event's life
};
