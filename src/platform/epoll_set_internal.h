// An epoll set kept in step with a list of descriptors that changes as a
// main context adds and drops sources. Shared by the idle session and the
// bus's own main contexts (defined in bus/context_wait.cpp). Private to
// src/platform/; relies on Linux's epoll.
#pragma once

#include <vector>

namespace platform {

// Makes the epoll set `epollFd`, which holds the descriptors `watched`,
// hold exactly those of `fds` (each for input) and `watched` name them.
void SyncEpollSet(int epollFd, std::vector<int>* watched, std::vector<int> fds);

}  // namespace platform
