// The rule functions, one row each: the name the script engine finds the
// function by, its argument types as a #declare line of the shipped
// spamfltr.inc spells them ("" for none), and its result type (none,
// integer, truth or string).  The program's
// export list is made from this table, and the build checks it against
// the functions defined in RuleFunctions.cpp and against spamfltr.inc: a
// new rule function is one row here, one definition and one #declare.
#pragma once

// ROW(name, "argument types", result type)
#define QF_RULE_FUNCTIONS(ROW) \
    ROW(ISSPAM, "", none) \
    ROW(ISOK, "", none) \
    ROW(STOPCHECKING, "", none) \
    ROW(GETRULERATING, "", integer) \
    ROW(SETRULERATING, "integer", none) \
    ROW(ADDDECISIONDETAILS, "string", none) \
    ROW(MESSAGESIZE, "", integer) \
    ROW(GETMSGSEGMENTCOUNT, "", integer) \
    ROW(SELECTMSGSEGMENT, "integer", truth) \
    ROW(HEADERFIELDEXISTS, "string", truth) \
    ROW(HEADERFIELDVALUE, "string", string) \
    ROW(GETHEADERFIELDCOUNT, "", integer) \
    ROW(GETHEADERFIELDNAME, "integer", string) \
    ROW(GETHEADERFIELDVALUE, "integer", string) \
    ROW(GETFIRSTADDRESS, "string", string) \
    ROW(GETNEXTADDRESS, "", string) \
    ROW(PARSEADDRESS, "string", string) \
    ROW(WILDCARDMATCH, "string, string", truth) \
    ROW(WILDCARDMATCHHEADER, "string", truth) \
    ROW(WILDCARDMATCHBODY, "string", truth) \
    ROW(WILDCARDMATCHRAWBODY, "string", truth) \
    ROW(MATCHESLISTITEM, "string, string", truth) \
    ROW(HEADERMATCHESLISTITEM, "string", truth) \
    ROW(BODYMATCHESLISTITEM, "string", truth) \
    ROW(COUNTHEADERPATTERNLISTHITS, "string", integer) \
    ROW(COUNTBODYPATTERNLISTHITS, "string", integer) \
    ROW(FINDWORDINSTRING, "string, string", truth) \
    ROW(FINDWORDINHEADER, "string", truth) \
    ROW(FINDWORDINBODY, "string", truth) \
    ROW(COUNTHEADERWORDLISTHITS, "string", integer) \
    ROW(COUNTBODYWORDLISTHITS, "string", integer) \
    ROW(COUNTHEADERWORDINSTANCES, "string", integer) \
    ROW(COUNTBODYWORDINSTANCES, "string", integer) \
    ROW(MAXWHITESPACERUN, "string", integer) \
    ROW(ISVALIDDATE, "string", truth) \
    ROW(SETUSERMACRO, "integer, string", none) \
    ROW(ISINFECTED, "", truth) \
    ROW(SPAMPROBABILITY, "", integer) \
    ROW(LEARNEDCOUNT, "string", integer) \
    ROW(FILEOPEN, "string, string, integer", integer) \
    ROW(FILECLOSE, "integer", integer)
