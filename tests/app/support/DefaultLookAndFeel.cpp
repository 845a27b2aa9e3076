#include <gtest/gtest.h>

#include "app/artwork/ClarivoFonts.h"

// The program installs its font mapping before its first window; the tests
// draw through the same one, or their text would depend on the machine.
namespace
{
struct InstallDefaultLookAndFeel : ::testing::Environment
{
    void SetUp() override { clarivo::installDefaultLookAndFeel(); }
};

[[maybe_unused]] auto* const installed = ::testing::AddGlobalTestEnvironment (new InstallDefaultLookAndFeel);
} // namespace
