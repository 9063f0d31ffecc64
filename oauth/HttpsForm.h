// HttpsForm: an OAuth endpoint's request and answer.  A form
// (application/x-www-form-urlencoded) is posted over HTTPS, never plain
// HTTP, with the server's certificate and name checked (caFile: the test's
// or a company's authority; empty: the system's); the answer's JSON object
// gives its top-level strings and numbers, numbers as their text.
//
// The whole exchange ends within timeoutSeconds, or within a slice of a stop
// request of the calling worker thread (common/StopToken).  An answer beyond
// kMaxAnswer bytes is refused.  Thread-safe; libcurl is set up on first use.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

struct HttpsOptions {
    std::string caFile;
    int timeoutSeconds = 30;
};

struct HttpsAnswer {
    long status = 0;                              // HTTP status
    std::map<std::string, std::string> fields;    // the JSON object's
};

constexpr size_t kMaxAnswer = 64 * 1024;

using FormFields = std::vector<std::pair<std::string, std::string>>;

// False with error (a sentence) when no JSON answer came: no connection,
// a refused certificate, a time-out, a stop, an answer that is not JSON.
// An HTTP error status with a JSON body is an answer.
bool postHttpsForm(const std::string& url, const FormFields& form, const HttpsOptions& options,
                   HttpsAnswer& answer, std::string& error);
