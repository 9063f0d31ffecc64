// ReadableText: a message taken apart for a person to read it, as the
// archive viewer shows it: the fields of its header (unfolded, in their
// order), and each part with its type, character set and, for a text part
// that is no attachment, its decoded text (base64 or quoted-printable
// undone, the markup of HTML dropped: nothing in it is fetched or run).
// The bytes stay in the part's own character set; the caller converts.
// Bounded: at most kMaxReadable bytes of text in all, kMaxFields fields.
// The message is read from an anonymous file in memory, never written out.
// No bytes make it crash or read out of bounds.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

struct ReadablePart {
    std::string type;       // "text/plain", in lower case; empty when not given
    std::string charset;    // as the part names it
    std::string name;       // the file name of an attachment
    bool text = false;      // text holds its decoded text
    std::string body;
};

struct ReadableMessage {
    std::vector<std::pair<std::string, std::string>> fields;
    std::vector<ReadablePart> parts;
};

constexpr size_t kMaxReadable = 1024 * 1024;
constexpr size_t kMaxFields = 200;

ReadableMessage readableMessage(const std::string& message);
