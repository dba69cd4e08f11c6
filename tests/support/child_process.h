#pragma once

#include <cstddef>
#include <functional>

namespace tolvane::test {

// Runs body in a forked child whose files may not grow past limit bytes (with SIGXFSZ ignored, so
// a write beyond it fails with EFBIG instead of killing the child). Returns body's result, or -1
// when the child did not exit normally.
int runWithFileSizeLimit(std::size_t limit, const std::function<int()>& body);

// Runs body in a forked child whose files may not grow past limit bytes. The child stops itself
// at the write that meets the limit and is killed there with SIGKILL, so it dies in the middle of
// what it was writing. False when the child ended without reaching the limit.
bool killAtFileSizeLimit(std::size_t limit, const std::function<void()>& body);

// Runs body in a forked child as the unprivileged user 65534 when this process is root (as CI
// is, and root may write any file), else as the current user. Returns body's result, 100 when the
// child could not drop root, or -1 when the child did not exit normally.
int runAsOrdinaryUser(const std::function<int()>& body);
inline constexpr int CouldNotDropRoot = 100;

} // namespace tolvane::test
