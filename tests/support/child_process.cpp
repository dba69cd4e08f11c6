#include "support/child_process.h"

#include <csignal>
#include <cstdio>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tolvane::test {

int runWithFileSizeLimit(std::size_t limit, const std::function<int()>& body)
{
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &small) != 0)
            ::_exit(100);
        ::_exit(body() & 0x7F);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

bool killAtFileSizeLimit(std::size_t limit, const std::function<void()>& body)
{
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        std::signal(SIGXFSZ, [](int) { ::raise(SIGSTOP); });
        const rlimit small{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &small) == 0)
            body();
        ::_exit(0);
    }
    int status = 0;
    if (::waitpid(child, &status, WUNTRACED) != child || !WIFSTOPPED(status))
        return false;
    ::kill(child, SIGKILL);
    return ::waitpid(child, &status, 0) == child && WIFSIGNALED(status);
}

int runAsOrdinaryUser(const std::function<int()>& body)
{
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (::geteuid() == 0) {
            constexpr uid_t Nobody = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0 ||
                ::geteuid() == 0)
                ::_exit(CouldNotDropRoot);
        }
        ::_exit(body() & 0x7F);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace tolvane::test
