#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <type_traits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::test {

// Runs call on a thread of its own and gives it 10 seconds. A call that is still stuck on the FIFO
// at fifoPath by then fails the test and is set free by opening and closing the FIFO's other end,
// so a regression costs ten seconds instead of hanging the test program.
template <typename Call>
std::optional<std::invoke_result_t<Call>> callOnFifo(const std::string& fifoPath, Call call)
{
    auto result = std::async(std::launch::async, call);
    if (result.wait_for(std::chrono::seconds(10)) == std::future_status::ready)
        return result.get();
    ADD_FAILURE() << "still blocked on the FIFO " << fifoPath << " after 10 s";
    // Opening both ends never blocks on Linux; it releases a blocked open, the close a read.
    const int unblock = ::open(fifoPath.c_str(), O_RDWR | O_CLOEXEC);
    if (unblock >= 0)
        ::close(unblock);
    result.wait();
    return std::nullopt;
}

// Makes a FIFO at path; false (with a test failure) when that is impossible.
inline bool makeFifo(const std::string& path)
{
    const bool made = ::mkfifo(path.c_str(), 0600) == 0;
    EXPECT_TRUE(made) << "mkfifo " << path;
    return made;
}

} // namespace tolvane::test
