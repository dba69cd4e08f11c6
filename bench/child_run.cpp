#include "child_run.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace tolvane::bench {

ChildRun runInChild(const std::function<double()>& work)
{
    ChildRun run;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return run;
    std::fflush(stdout); // nothing printed so far is printed again by the child
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        const double value = work();
        std::fflush(stdout);
        if (::write(pipeFds[1], &value, sizeof value) != sizeof value)
            ::_exit(3);
        ::_exit(value >= 0 ? 0 : 1);
    }
    ::close(pipeFds[1]);
    if (::read(pipeFds[0], &run.value, sizeof run.value) != sizeof run.value)
        run.value = -1;
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return run;
}

} // namespace tolvane::bench
