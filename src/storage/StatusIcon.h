// The states of a queued file and the small status icons of the two lists.
// A file's state and its icon share their numbers: 1-5 are the five states
// (also the <icon> value of Queue.dat), the rest belong to the connection list.
#pragma once

namespace tessaly {

enum class UploadState { Queued = 1, Paused = 2, Posting = 3, PostedOK = 4, FileError = 5 };

enum class StatusIcon {
    Queued = 1,
    Paused = 2,
    Posting = 3,
    PostedOK = 4,
    FileError = 5,
    Offline = 6,         // a connection that is not posting
    Connected = 7,       // a connection posting in plain text
    Tunnel = 8,          // a connection posting through the SSL tunnel
    ConnectionError = 9, // a connection waiting to restart after an error
    RarParIdle = 10,
    RarParBusy = 11,
};

constexpr StatusIcon iconOf(UploadState state)
{
    return static_cast<StatusIcon>(static_cast<int>(state));
}

} // namespace tessaly
