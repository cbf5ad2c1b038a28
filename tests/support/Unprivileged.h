#pragma once
// Checks that need permissions to stop the process, which they do not do for root.

#include <functional>
#include <optional>
#include <string>

namespace testsupport {

// Runs the check as an unprivileged user: in a child process that drops to the user "nobody" when
// the tests run as root, directly otherwise. The check's result, or nothing when the child could
// not run it.
std::optional<bool> RunUnprivileged(const std::function<bool()>& check);

} // namespace testsupport
