#pragma once

namespace tolvane {

// What a transfer ends with: 0 for success, else the situation the worker ran into. The message
// table maps each to the text the operator sees.
namespace WorkerError {
inline constexpr int None = 0;
inline constexpr int SocketFailure = 1;
inline constexpr int ConnectFailure = 2;
inline constexpr int TypeExchange = 3;
inline constexpr int SizeExchange = 5;
inline constexpr int Receive = 6; // known to the window's table, never posted by the worker
inline constexpr int SendFailure = 7;
inline constexpr int AcknowledgementFailure = 8;
inline constexpr int Incompatible = 9;
inline constexpr int PayloadTooLarge = 10; // refused before connecting
} // namespace WorkerError

} // namespace tolvane
