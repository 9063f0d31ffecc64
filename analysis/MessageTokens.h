// MessageTokens: the tokens the learning classifier knows a message by.
//
// tokenizeMessage reads one message file, as saved (CR LF or LF line ends)
// or as the proxy spools it (dot-stuffed, ended by a "." line), and puts
// the distinct tokens of it into tokens:
//   "name:WORD"    every word of a header field's value, under the field's
//                  name in lower case ("subject:FREE", "received:SMTP");
//                  the words as collectWords cuts and upper-cases them,
//                  after RFC 2047 encoded words are decoded (their bytes
//                  kept in their own character set).
//                  The proxy's own X-Quillfence-Pro block is left out, so
//                  that a message taken back from the archive looks as it
//                  did when it came.
//   "name:domain"  the domain of the first address of From, Reply-To,
//                  Return-Path and Sender, in lower case ("from:example.com").
//   "WORD"         every word of the decoded text of each text part
//                  (text/plain, text/html with its markup dropped, or a part
//                  without a type), and of the Subject.
//   "url:host"     the host of every http(s) link in the text ("url:
//                  www.example.com"), and its last two labels
//                  ("url:example.com").
//   "type:...", "encoding:...", "charset:..."   each part's content type,
//                  transfer encoding and character set, in lower case.
//   "html-only"    HTML text and no plain text.
// Words of digits only, and words shorter than kMinWord bytes, are left out:
// they are dates, sizes and counters, which say nothing about the sender.
// A message that came through a mailing list (it has a List-Id, List-Post,
// List-Unsubscribe, Mailing-List, X-Mailman-Version or X-BeenThere field)
// gives no tokens of the fields the list's server sets (List-*,
// Mailing-List, X-Mailman-Version, X-BeenThere, X-Loop, Precedence,
// Errors-To, Sender), and none of the footer the server appends to its text
// (from a rule or "-- " line near the end of the part, as read, that is
// followed by "list" within a word or alone): they are the same on spam posted to the list as on the list's
// wanted mail, and would outweigh what the poster wrote.
//
// Limits: the text parts give at most kMaxText decoded bytes in all (the
// first ones in message order); a part's body is read only up to what the
// budget left for it needs, so a huge part costs no more than a small one.
// No file content makes it crash, throw or read out of bounds; a file that
// cannot be read gives what was found before the failure.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <unordered_set>

using TokenSet = std::unordered_set<std::string>;

// 100 KB of decoded text: enough to know any real message by, and a bound
// on the work a crafted one can ask for.
constexpr size_t kMaxText = 100 * 1024;
// Words of one and two bytes are mostly pieces of cut-up markup and dates.
constexpr size_t kMinWord = 3;

void tokenizeMessage(FILE* file, TokenSet& tokens);
