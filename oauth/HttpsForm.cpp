#include "oauth/HttpsForm.h"

#include "common/StopToken.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

struct Received {
    std::string body;
    bool tooLarge = false;
};

size_t onBody(char* data, size_t size, size_t count, void* context)
{
    Received& received = *static_cast<Received*>(context);
    const size_t bytes = size * count;
    if (received.body.size() + bytes > kMaxAnswer) {
        received.tooLarge = true;
        return 0;   // ends the transfer
    }
    received.body.append(data, bytes);
    return bytes;
}

int onProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return StopToken::requested() ? 1 : 0;
}

struct CurlEasyFree {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

std::string encoded(CURL* curl, const FormFields& form)
{
    std::string body;
    for (const auto& [name, value] : form) {
        char* n = curl_easy_escape(curl, name.c_str(), static_cast<int>(name.size()));
        char* v = curl_easy_escape(curl, value.c_str(), static_cast<int>(value.size()));
        if (!body.empty())
            body += '&';
        body += std::string(n ? n : "") + "=" + (v ? v : "");
        curl_free(n);
        curl_free(v);
    }
    return body;
}

} // namespace

bool postHttpsForm(const std::string& url, const FormFields& form, const HttpsOptions& options,
                   HttpsAnswer& answer, std::string& error)
{
    static std::once_flag setUp;
    std::call_once(setUp, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    answer = HttpsAnswer{};
    const std::unique_ptr<CURL, CurlEasyFree> curl(curl_easy_init());
    if (!curl) {
        error = "HTTPS is not available (libcurl could not start)";
        return false;
    }
    CURL* handle = curl.get();
    const std::string body = encoded(handle, form);
    Received received;
    char curlError[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    // HTTPS alone, also after any redirect; no redirects are followed.
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.caFile.empty())
        curl_easy_setopt(handle, CURLOPT_CAINFO, options.caFile.c_str());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, static_cast<long>(options.timeoutSeconds));
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, curlError);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "Quillfence Pro");
    struct curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
    const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(headers, &curl_slist_free_all);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);

    const CURLcode result = curl_easy_perform(handle);
    if (result != CURLE_OK) {
        if (received.tooLarge)
            error = "the answer of " + url + " is larger than " + std::to_string(kMaxAnswer) + " bytes";
        else if (result == CURLE_ABORTED_BY_CALLBACK)
            error = "stopped";
        else if (result == CURLE_OPERATION_TIMEDOUT)
            error = url + " did not answer within " + std::to_string(options.timeoutSeconds) + " seconds";
        else
            error = url + ": " + (curlError[0] != '\0' ? curlError : curl_easy_strerror(result));
        return false;
    }
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &answer.status);
    const nlohmann::json json = nlohmann::json::parse(received.body, nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        error = url + " answered HTTP " + std::to_string(answer.status) + " without a JSON object";
        return false;
    }
    for (const auto& [key, value] : json.items()) {
        if (value.is_string())
            answer.fields[key] = value.get<std::string>();
        else if (value.is_number_integer())
            answer.fields[key] = std::to_string(value.get<long long>());
        else if (value.is_number()) {
            // A fraction or an exponent: whole seconds, within what a long long holds.
            const double number = std::clamp(value.get<double>(), -9.0e18, 9.0e18);
            answer.fields[key] = std::to_string(static_cast<long long>(number));
        }
    }
    return true;
}
