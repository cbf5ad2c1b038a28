#include "support/Unprivileged.h"

#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

std::optional<bool> RunUnprivileged(const std::function<bool()>& check) {
    if (geteuid() != 0)
        return check();
    constexpr uid_t kNobody = 65534;
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(2);
        _exit(check() ? 1 : 0);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
        return std::nullopt;
    return WEXITSTATUS(status) == 1;
}

} // namespace testsupport
