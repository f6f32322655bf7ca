#include "gui.hpp"

#include <gtest/gtest.h>

namespace {

TEST(GuiErrorDebugForm, NamesKindAndQuotesMessage) {
    using Kind = kov::GuiError::Kind;
    EXPECT_EQ(kov::debug_form({Kind::Unknown, ""}), "Unknown");
    EXPECT_EQ(kov::debug_form(kov::initialization_error("CoInitialize failed")),
              "InitializationError(\"CoInitialize failed\")");
    EXPECT_EQ(kov::debug_form({Kind::EventsBinding, "x"}), "EventsBinding(\"x\")");
    EXPECT_EQ(kov::debug_form({Kind::LayoutCreationError, ""}), "LayoutCreationError(\"\")");
}

} // namespace
