// CEventLog: the daily event log of a process, and the exception trap.
//
// The file, the enabled levels and the default category are class-wide; an
// object only carries a category.  Nothing is written before Initialize().
// A line is "%-8s %c %02d:%02d:%02d %08x " (category, level letter, local time,
// kernel thread id) followed by the formatted message and a line feed; it holds
// at most kMaxLine characters and longer messages are cut.  Each line reaches
// the file in one write(2) on a descriptor opened for appending, so lines of
// different threads (or processes) never mix.  The file is
// "<logpath>/<logpre>YYMMDD.log" of the local date, changed at the first line
// written after local midnight.  Failures to create, open or write the file are
// not reported: the line is lost and LogEvent still returns true.
//
// Levels: 1 error (E), 2 warning (W), 4 information (I), 8 S, 16 <, 32 >,
// 64/128/256/512 traffic (*), 1024 debug (D), 4096 !, 8192 LOGEVENT lines (~);
// any other value, combinations included, is written with "!".
#pragma once

#include "common/CVMutex.h"
#include "common/CommonExport.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <string>

// The level of detail lines that only DebugLogging writes.
constexpr unsigned short kDebugLevel = 1024;

class COMMONKIT_API CEventLog
{
public:
    // At most this many characters per line, line feed included.
    static constexpr size_t kMaxLine = 8192;

    explicit CEventLog(const char* category = nullptr);
    virtual ~CEventLog();
    CEventLog(const CEventLog&) = default;
    CEventLog& operator=(const CEventLog&) = default;

    // Creates the folder path (one level), remembers the folder, the default
    // category and the file-name prefix.  Opens nothing.
    static void Initialize(const char* path, const char* app, const char* prefix);
    // Closes today's file.  Later lines of the same day are lost.
    static void Uninitialize();
    static void SetLogging(unsigned long mask);
    // Error and warning lines (levels 1 and 2) also go to standard error,
    // as they are written: for a program whose standard error a service
    // manager keeps (the journal).
    static void echoErrorsToStderr(bool echo);

    // False only before Initialize().  A level not in the mask writes nothing.
    bool LogEvent(unsigned short level, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

    // True when lines of level are written (Initialize() called, level in
    // the mask).
    static bool enabled(unsigned short level);
    // Formats one line as LogEvent does, line feed included, into line
    // (kMaxLine + 1 bytes); returns its length.
    static size_t formatLine(char* line, unsigned short level, const std::string& category,
                             const char* format, va_list args);
    // Appends whole lines (each ending in a line feed) to today's file in
    // one write(2); lost like any line when the file cannot be written.
    // While this thread holds its lines (holdLines), they are appended to
    // the holder's text instead, up to EventLogGather::kMaxHeld.
    static void writeLines(const char* lines, size_t size);
    // Makes held (or, when null, the file again) where this thread's lines
    // go; returns the previous holder.  For EventLogGather.
    static std::string* holdLines(std::string* held);

    static std::string logpath;
    static std::string logapp;
    static std::string logpre;
    static std::atomic<bool> loginit;
    static std::atomic<uint32_t> loglevel;
    static std::atomic<bool> echoErrors;
    static int logfile;   // descriptor of today's file, -1 when none
    static int dayno;     // dayOfYear() for which logfile was opened
    static CVMutex mutex; // guards the choice of logfile and every write to it

protected:
    // Makes logfile today's file; true when one is open.  Call with mutex held.
    bool openFile();

private:
    std::string m_category;
};

// Writes text as a level 8192 line with the default category.  The text is
// never taken as a format.
COMMONKIT_API void LOGEVENT(const std::string& text);

// The exception trap: logs "Exception trap - <name>:<line>" at level 1, where
// name is the part of file after its last "/" or "\".
COMMONKIT_API void DebugX(const char* file, int line);
