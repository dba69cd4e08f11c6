#pragma once

namespace tolvane {

// How far a transfer got before it ended, as far as this side can know it. Up to RefusedPayload the
// recorder certainly did not get the whole payload; from WholePayload on it may have.
enum class TransferReach {
    NotConnected,   // no connection to the recorder
    BeforePayload,  // connected, but it ended before the payload went out
    PartOfPayload,  // the recorder's side acknowledged fewer bytes than the payload
    RefusedPayload, // the recorder answered the whole payload with the refusal word
    // Every payload byte went out; the connection was then reset, closed or went silent, or the
    // recorder's side took the bytes without answering.
    WholePayload,
    FirstAcknowledgement, // the recorder acknowledged the payload, then the transfer failed
    Completed,
};

// Whether the recorder may hold the whole payload.
inline bool mayHaveWholePayload(TransferReach reach)
{
    return reach >= TransferReach::WholePayload;
}

} // namespace tolvane
