#pragma once

// What the benchmarks share: a plain blocking speaker of the download protocol on loopback, a
// payload pattern and the median of a series.

#include "core/transfer/download_job.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tolvane::bench {

// A blocking socket connected to 127.0.0.1:port whose calls give up after 30 s, so a stuck peer
// ends a benchmark with a message; -1 when it cannot connect.
int connectLoopback(std::uint16_t port);
// Gives each blocking call on the socket the same 30 s limit.
void setBlockingTimeouts(int fd);

bool sendAll(int fd, const std::uint8_t* data, std::size_t size);
bool sendWord(int fd, std::uint32_t word);
bool receiveWord(int fd, std::uint32_t& word);
bool expectWord(int fd, std::uint32_t expected);
// The start of every transfer: the type code and its answer, then the size and its echo.
bool announcePayload(int fd, std::uint32_t typeCode, std::uint32_t size);
// How a plain transfer hands the payload to the socket: in one call, or in pieces the size of
// the socket's send buffer as the worker does.
enum class PlainChunks { Whole, SendBuffer };
// One application-image transfer by plain blocking calls: seconds from connect to the second
// acknowledgement, or a negative number when it failed.
double plainImageTransfer(std::uint16_t port, const std::vector<std::uint8_t>& payload,
                          PlainChunks chunks);
// An application-image transfer of payload to 127.0.0.1:port, with the job's default deadlines.
DownloadJob loopbackImageJob(std::uint16_t port, const std::vector<std::uint8_t>& payload);

// Bytes that do not repeat within a page, so nothing along the way can shortcut them.
std::vector<std::uint8_t> patternPayload(std::size_t size);

double median(std::vector<double> values);

} // namespace tolvane::bench
