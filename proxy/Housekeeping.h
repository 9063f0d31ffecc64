// Housekeeping: the tidying that rides on sessions, at the moments it must.
//
// Before a session serves anything: the state folder's daily tidy, the
// archive's (day files past their keeping), and the messages the user saved
// to the learn folders since the last session are learned, so that the new
// session rates with them.  After a session, when the setting TidyLogs asks:
// the daily logs older than days go.  The tidy before a session is done by
// one session at a time; one that starts while another does it skips it.  The archive copies of one session are
// merged by its collection and its QUIT, not here.
#pragma once

#include <string>

void tidyBeforeSession(const std::string& dataRoot);
// "qf" or "sf", then YYMMDD, then ".log": nothing else is touched.
void tidyOldLogs(const std::string& dataRoot, int days);
