// A name lookup that does not answer: the send fails at its deadline and giving the request up
// does not wait for the lookup. The system's getaddrinfo is replaced in this program by one that
// holds lookups of one name until the test lets them go (or a long fallback passes).
#include "http_test_support.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <dlfcn.h>
#include <mutex>
#include <netdb.h>
#include <string_view>

namespace {

constexpr std::string_view HELD_NAME = "held-lookup.invalid";

std::mutex held_mutex;
std::condition_variable held_released;
bool released = false;
std::atomic<bool> lookup_returned = false;

} // namespace

// Interposes the C library's: libcurl's resolver thread calls this one.
extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** result) {
    if (node != nullptr && node == HELD_NAME) {
        std::unique_lock lock(held_mutex);
        held_released.wait_for(lock, std::chrono::seconds(20), [] { return released; });
        lookup_returned = true;
        return EAI_NONAME;
    }
    using Real = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return real(node, service, hints, result);
}

namespace {

TEST(HttpResolverTest, ALookupThatHangsFailsTheSendAtItsDeadlineWithoutWaitingForIt) {
    const kov::HttpClient client = kov_test::make_client(std::chrono::milliseconds(300));
    const std::string url = "http://" + std::string(HELD_NAME) + "/";
    auto response = client.get(url).send();
    // Had the send (or giving its transfer up) waited for the lookup, the lookup would have
    // returned by now: it only returns when released below or after its long fallback.
    const bool returned_before_release = lookup_returned;
    {
        std::lock_guard lock(held_mutex);
        released = true;
    }
    held_released.notify_all();
    ASSERT_FALSE(response);
    EXPECT_EQ(response.error(),
              (kov::ClientError{kov::ClientErrorKind::Request, url, std::string(kov::TIMED_OUT)}));
    EXPECT_FALSE(returned_before_release);
}

} // namespace
