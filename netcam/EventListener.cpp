#include "netcam/EventListener.h"

#include "io/ProcessWide.h"
#include "io/IoService.h"
#include "netcam/RelayDatagrams.h"

#include <boost/asio/post.hpp>

#include <array>

namespace korvane {

using boost::asio::ip::udp;

struct CEventListener::EVENTSOCKET {
    std::shared_ptr<udp::socket> socket;
    std::shared_ptr<CReportNotifier> owner;
    udp::endpoint sender;
    // One byte more than an event may have: a longer datagram fills it and
    // is dropped rather than read as a shorter one.
    std::array<std::uint8_t, kEventDatagramLimit + 1> buffer{};
};

std::shared_ptr<CEventListener> CEventListener::Instance() { return ProcessWide<CEventListener>(); }

bool StartEventListening(std::uint32_t key, std::shared_ptr<udp::socket> socket, std::shared_ptr<CReportNotifier> owner)
{
    return CEventListener::Instance()->AddSocket(key, std::move(socket), std::move(owner));
}

CEventListener::CEventListener() : m_pIo(CIoService::Instance()) {}

CEventListener::~CEventListener() { Shutdown(); }

bool CEventListener::AddSocket(std::uint32_t key, std::shared_ptr<udp::socket> socket,
                               std::shared_ptr<CReportNotifier> owner)
{
    if (!socket || !owner) return false;
    auto entry = std::make_shared<EVENTSOCKET>();
    entry->socket = std::move(socket);
    entry->owner = std::move(owner);

    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bShutdown || !m_mapSockets.emplace(key, entry).second) return false;
    if (!m_bUsing) m_bUsing = m_pIo->Acquire();
    if (!m_bUsing) return false;
    boost::asio::post(Context(), [entry] { Receive(entry); });
    return true;
}

bool CEventListener::RemoveSocket(std::uint32_t key, const std::shared_ptr<CReportNotifier>& owner)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_mapSockets.find(key);
        if (found == m_mapSockets.end() || found->second->owner != owner) return false;
        CloseOnThread(found->second);
        m_mapSockets.erase(found);
        if (!m_mapSockets.empty() || !m_bUsing) return true;
        m_bUsing = false;
    }
    // Outside the lock: a callback on the I/O thread may be adding a camera
    // right now, and a use taken meanwhile ends this wait.
    m_pIo->Release();
    return true;
}

void CEventListener::CloseOnThread(std::shared_ptr<EVENTSOCKET> entry)
{
    if (!m_pIo->Thread()->IsRunning()) {
        boost::system::error_code ignored;
        entry->socket->close(ignored);  // nobody reads it: the thread is not running
        return;
    }
    boost::asio::post(Context(), [entry] {
        boost::system::error_code ignored;
        entry->socket->close(ignored);
    });
}

std::size_t CEventListener::SocketCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mapSockets.size();
}

bool CEventListener::Idle() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_bUsing && m_pIo->Idle();
}

void CEventListener::Shutdown()
{
    bool wasUsing = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bShutdown = true;
        for (auto& [key, entry] : m_mapSockets) CloseOnThread(entry);
        m_mapSockets.clear();
        std::swap(wasUsing, m_bUsing);
    }
    if (wasUsing) m_pIo->Release();
}

void CEventListener::Receive(std::shared_ptr<EVENTSOCKET> entry)
{
    auto& socket = *entry->socket;
    socket.async_receive_from(boost::asio::buffer(entry->buffer), entry->sender,
                              [entry](const boost::system::error_code& error, std::size_t bytes) {
                                  if (error == boost::asio::error::operation_aborted || !entry->socket->is_open())
                                      return;
                                  if (!error) {
                                      if (const auto message = EventMessage(entry->buffer.data(), bytes))
                                          entry->owner->OnRelayEvent(*message);
                                  }
                                  Receive(entry);
                              });
}

}  // namespace korvane
