#pragma once

// A fake of the shell's progress dialog, linked into a test in place of the platform's: it
// writes down every call and answers the Cancel question as the test says.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kov_test {

struct FakeDialog {
    // The calls in order: "CoCreateInstance", "SetTitle <text>", "SetLine <n> <text>",
    // "StartProgressDialog", "HasUserCancelled", "SetProgress64 <completed>/<total>",
    // "StopProgressDialog", "Release".
    std::vector<std::string> calls;
    // The answer to HasUserCancelled, asked after the call has been written down.
    std::function<bool(const FakeDialog&)> cancelled = [](const FakeDialog&) { return false; };
    // Runs as each call is written down, before it answers.
    std::function<void(const std::string& call)> on_call;
    // A call whose name starts with this text fails (E_FAIL, "fake failure").
    std::string failing;
};

// The one fake every dialog of the test program reports to; a fresh one per test.
FakeDialog& fake_dialog();
void reset_fake_dialog();

} // namespace kov_test
