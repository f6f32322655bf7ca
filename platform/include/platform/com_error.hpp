#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// A failed COM or shell call: which call, its HRESULT and a message text (the description of
// the thread's COM error object where one is set, else the system's text for the code).
struct ComError {
    std::string_view operation;
    std::uint32_t hresult = 0;
    std::string message;
};

// "<operation> failed: <message> (HRESULT 0x80070002)"
std::string describe(const ComError& error);

} // namespace platform
