#pragma once

// Owners of libcurl's handles: each frees its handle when it goes.
#include <curl/curl.h>
#include <memory>
#include <optional>
#include <string>

namespace kov::curl {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct UrlDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct TextDeleter {
    void operator()(char* text) const { curl_free(text); }
};

using Easy = std::unique_ptr<CURL, EasyDeleter>;
using Multi = std::unique_ptr<CURLM, MultiDeleter>;
using Url = std::unique_ptr<CURLU, UrlDeleter>;
using Text = std::unique_ptr<char, TextDeleter>;

// One part of a parsed address, or nothing when curl has none to give.
inline std::optional<std::string> url_part(const Url& url, CURLUPart which, unsigned flags = 0) {
    char* value = nullptr;
    if (curl_url_get(url.get(), which, &value, flags) != CURLUE_OK || value == nullptr) {
        return std::nullopt;
    }
    const Text owner(value);
    return std::string(value);
}

// A header list that grows at its end; append is all a transfer needs.
class List {
public:
    // False when curl could not take the line (out of memory).
    bool append(const char* line) {
        curl_slist* grown = curl_slist_append(head_.get(), line);
        if (grown == nullptr) {
            return false;
        }
        head_.release();
        head_.reset(grown);
        return true;
    }
    curl_slist* get() const { return head_.get(); }

private:
    std::unique_ptr<curl_slist, ListDeleter> head_;
};

} // namespace kov::curl
