// A GLib main context run by our own loop: prepare, query, check and
// dispatch by hand, and an epoll set kept in step with the descriptors.
// Relies on GLib, poll and epoll.
//
// Provides: PrepareContext, DispatchContext, SyncEpollSet, DescriptorsOf,
// OpenOwnContext, PrepareOwnContext, DispatchOwnContext, CloseOwnContext.
#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>

#include "platform/bus/context_wait_internal.h"

namespace platform {

void PrepareContext(GMainContext* context, gint* priority, std::vector<GPollFD>* fds) {
    gint timeout = -1;
    for (;;) {
        const gboolean ready = g_main_context_prepare(context, priority);
        fds->resize(std::max<size_t>(fds->size(), 4));
        gint n = g_main_context_query(context, *priority, &timeout, fds->data(),
                                      static_cast<gint>(fds->size()));
        if (n > static_cast<gint>(fds->size())) {
            fds->resize(static_cast<size_t>(n));
            n = g_main_context_query(context, *priority, &timeout, fds->data(), n);
        }
        fds->resize(static_cast<size_t>(n));
        if (!ready) return;
        if (g_main_context_check(context, *priority, fds->data(), n)) {
            g_main_context_dispatch(context);
        }
    }
}

void DispatchContext(GMainContext* context, gint* priority, std::vector<GPollFD>* fds) {
    if (!fds->empty()) {
        std::vector<pollfd> ready(fds->size());
        for (size_t i = 0; i < fds->size(); ++i) {
            ready[i] = pollfd{(*fds)[i].fd, static_cast<short>((*fds)[i].events), 0};
        }
        poll(ready.data(), ready.size(), 0);
        for (size_t i = 0; i < fds->size(); ++i) {
            (*fds)[i].revents = static_cast<gushort>(ready[i].revents);
        }
    }
    if (g_main_context_check(context, *priority, fds->data(), static_cast<gint>(fds->size()))) {
        g_main_context_dispatch(context);
    }
    PrepareContext(context, priority, fds);
}

void SyncEpollSet(int epollFd, std::vector<int>* watched, std::vector<int> fds) {
    for (int fd : *watched) {
        if (std::find(fds.begin(), fds.end(), fd) == fds.end()) {
            epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
        }
    }
    for (int fd : fds) {
        if (std::find(watched->begin(), watched->end(), fd) != watched->end()) continue;
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.fd = fd;
        epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &e);
    }
    *watched = std::move(fds);
}

std::vector<int> DescriptorsOf(const std::vector<GPollFD>& fds) {
    std::vector<int> out;
    for (const GPollFD& f : fds) out.push_back(f.fd);
    return out;
}

bool OpenOwnContext(OwnContext* own) {
    own->epollFd = epoll_create1(EPOLL_CLOEXEC);
    own->context = g_main_context_new();
    g_main_context_acquire(own->context);
    return own->epollFd >= 0;
}

void PrepareOwnContext(OwnContext* own) {
    PrepareContext(own->context, &own->priority, &own->fds);
    SyncEpollSet(own->epollFd, &own->watched, DescriptorsOf(own->fds));
}

void DispatchOwnContext(OwnContext* own) {
    g_main_context_push_thread_default(own->context);
    DispatchContext(own->context, &own->priority, &own->fds);
    SyncEpollSet(own->epollFd, &own->watched, DescriptorsOf(own->fds));
    g_main_context_pop_thread_default(own->context);
}

void CloseOwnContext(OwnContext* own) {
    if (own->context != nullptr) {
        while (g_main_context_iteration(own->context, FALSE)) {
        }
        g_main_context_release(own->context);
        g_main_context_unref(own->context);
        own->context = nullptr;
    }
    if (own->epollFd >= 0) close(own->epollFd);
    own->epollFd = -1;
}

}  // namespace platform
