// Watches the event sockets of every open relayed camera of device type 4, on
// the library's I/O thread, and turns "APPEARS" and "DISAPPEARS" into target
// reports on that camera's callback.
//
// The table is keyed by the event port field (unique per live socket) and
// shared by the hosts' threads (add, remove) and the listener thread, which
// only ever touches the entries it was handed, never the table. The listener
// is one use of the I/O service while the table holds a socket: removing the
// last one gives that use back (the sockets' pending receives are aborted),
// adding one takes it again.
#pragma once

#include "io/IoService.h"
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
    boost::asio::io_context& Context() { return m_pIo->Context(); }

    // Takes the socket into the table and starts watching it. False when the
    // key is in the table already (the first entry stays) or the I/O thread
    // cannot run (the entry stays, unwatched, until removed).
    bool AddSocket(std::uint32_t key, std::shared_ptr<boost::asio::ip::udp::socket> socket,
                   std::shared_ptr<CReportNotifier> owner);
    // Closes and forgets the owner's socket under the key; false when there
    // was none. The last removal gives back the listener's use of the I/O
    // service (the last use of all waits, bounded, for the thread to end).
    bool RemoveSocket(std::uint32_t key, const std::shared_ptr<CReportNotifier>& owner);

    bool IsListening() const { return m_pIo->Thread()->IsRunning(); }
    std::size_t SocketCount() const;

    // No socket is watched and the thread has ended.
    bool Idle() const;
    // Every socket closed, the listener's use given back; no socket is taken
    // any more.
    void Shutdown();

private:
    struct EVENTSOCKET;
    static void Receive(std::shared_ptr<EVENTSOCKET> entry);
    void CloseOnThread(std::shared_ptr<EVENTSOCKET> entry);

    const std::shared_ptr<CIoService> m_pIo;
    mutable std::mutex m_mutex;
    std::map<std::uint32_t, std::shared_ptr<EVENTSOCKET>> m_mapSockets;
    bool m_bUsing = false;  // holds a use of the I/O service
    bool m_bShutdown = false;
};

// Watches a camera's event socket with the process's listener (made on first
// use); the result of CEventListener::AddSocket.
bool StartEventListening(std::uint32_t key, std::shared_ptr<boost::asio::ip::udp::socket> socket,
                         std::shared_ptr<CReportNotifier> owner);

}  // namespace korvane
