// One thread that watches the event sockets of every open relayed camera of
// device type 4 and turns "APPEARS" and "DISAPPEARS" into target reports on
// that camera's callback.
//
// The table is keyed by the event port field (unique per live socket) and
// shared by the hosts' threads (add, remove) and the listener thread, which
// only ever touches the entries it was handed, never the table. The thread
// runs while the table holds a socket: removing the last one ends it at once
// (the sockets' pending receives are aborted), adding one brings it back.
#pragma once

#include "io/IoThread.h"
#include "report/ReportNotifier.h"

#include <boost/asio/ip/udp.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace korvane {

class CEventListener {
public:
    static std::shared_ptr<CEventListener> Instance();

    CEventListener();
    ~CEventListener();

    // Relay and event sockets are made on this context: the event sockets
    // are read by the listener thread, the relay sockets only used by their
    // camera's calling thread.
    boost::asio::io_context& Context() { return m_thread.Context(); }

    // Takes the socket into the table and starts watching it. False when the
    // key is in the table already (the first entry stays) or the thread
    // cannot run (the entry stays, unwatched, until removed).
    bool AddSocket(std::uint32_t key, std::shared_ptr<boost::asio::ip::udp::socket> socket,
                   std::shared_ptr<CReportNotifier> owner);
    // Closes and forgets the owner's socket under the key; false when there
    // was none. The last removal waits (bounded) for the thread to end,
    // unless called from a callback on that thread.
    bool RemoveSocket(std::uint32_t key, const std::shared_ptr<CReportNotifier>& owner);

    bool IsListening() const { return m_thread.IsRunning(); }
    std::size_t SocketCount() const;

    // No socket is watched and the thread has ended.
    bool Idle() const { return !m_thread.IsRunning(); }
    // Every socket closed, the thread ended for good.
    void Shutdown();

private:
    struct EVENTSOCKET;
    static void Receive(std::shared_ptr<EVENTSOCKET> entry);
    void CloseOnThread(std::shared_ptr<EVENTSOCKET> entry);

    CIoThread m_thread;
    mutable std::mutex m_mutex;
    std::map<std::uint32_t, std::shared_ptr<EVENTSOCKET>> m_mapSockets;
    bool m_bShutdown = false;
};

// Watches a camera's event socket with the process's listener (made on first
// use); the result of CEventListener::AddSocket.
bool StartEventListening(std::uint32_t key, std::shared_ptr<boost::asio::ip::udp::socket> socket,
                         std::shared_ptr<CReportNotifier> owner);

}  // namespace korvane
