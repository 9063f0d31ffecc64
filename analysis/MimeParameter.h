// The value of a parameter in a MIME header field's text ("boundary" of a
// Content-Type, "filename" of a Content-Disposition): one grammar for every
// reader of a message's structure, so that the rules and the virus walk
// see the same parts.
//
// The name (given in lower case) is matched whole, in any case, after the start or a blank, ";"
// or ":", with blanks allowed before its "=".  A quoted value runs to the
// closing quote (or the end), any other to a blank or ";".  Nothing when
// the field holds no such parameter.  A pure function of its text.
#pragma once

#include <optional>
#include <string>

std::optional<std::string> mimeParameter(const std::string& field, const char* name);
