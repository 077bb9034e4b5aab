#include "report/ReportNotifier.h"

#include "report/LogFile.h"
#include "report/ReturnCodes.h"

namespace korvane {

void CReportNotifier::Set(RecvNotify notify, void* context)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pfnNotify = notify;
    m_pNotifyCtx = context;
}

bool CReportNotifier::HasNotify() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pfnNotify != nullptr;
}

void CReportNotifier::Enable()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bEnabled = true;
}

void CReportNotifier::Disable()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_bEnabled = false;
    const auto self = std::this_thread::get_id();
    m_idle.wait(lock, [&] { return m_nInFlight == 0 || m_deliveringThread == self; });
}

bool CReportNotifier::Deliver(const std::uint8_t* data, int length, std::uint32_t message,
                              const char* logLabel)
{
    RecvNotify notify;
    void* context;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bEnabled || !m_pfnNotify) return false;
        notify = m_pfnNotify;
        context = m_pNotifyCtx;
        ++m_nInFlight;
        m_deliveringThread = std::this_thread::get_id();
    }
    try {
        notify(data, length, message, context);
        if (logLabel) WriteLogLine(logLabel, data, length);
    } catch (...) {
        // A throwing host must not take the library's receive thread down.
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (--m_nInFlight == 0) m_deliveringThread = std::thread::id();
    }
    m_idle.notify_all();
    return true;
}

int CReportNotifier::OnSerialReport(const std::uint8_t* frame, int length)
{
    if (!frame) return 0;
    if (length > 5) {
        if (const ReturnCode* row = FindBySerialCode(frame[5]))
            Deliver(frame, length, row->message, row->label);
    }
    return length;
}

void CReportNotifier::OnTrackReport(const std::uint8_t* report, int length)
{
    constexpr int kStateByte = 4;
    if (!report || length <= kStateByte) return;
    const std::uint8_t state = report[kStateByte];
    const std::uint32_t message = state == 1 ? 0x8400u : state == 0 ? 0x8401u : 0u;
    if (const ReturnCode* row = FindByMessage(message)) Deliver(report, length, row->message, row->label);
}

void CReportNotifier::OnRelayEvent(std::uint32_t message)
{
    static constexpr char kText[] = "Camera Return Code";
    Deliver(reinterpret_cast<const std::uint8_t*>(kText), 18, message, nullptr);
}

}  // namespace korvane
