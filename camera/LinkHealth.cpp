#include "camera/LinkHealth.h"

namespace korvane {

void CLinkHealth::Succeeded()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nState = KORVANE_LINK_OK;
    m_strReason.clear();
}

void CLinkHealth::Failed(const std::string& reason)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nState = KORVANE_LINK_FAILED;
    m_strReason = reason;
}

void CLinkHealth::Sent()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nState != KORVANE_LINK_FAILED) return;
    m_nState = KORVANE_LINK_UNCHECKED;
    m_strReason.clear();
}

void CLinkHealth::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nState = KORVANE_LINK_UNCHECKED;
    m_strReason.clear();
}

std::int32_t CLinkHealth::State(std::string& reason) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    reason = m_strReason;
    return m_nState;
}

}  // namespace korvane
