#include "io/IoService.h"

#include "io/ProcessWide.h"
#include "report/LogFile.h"

namespace korvane {

std::shared_ptr<CIoService> CIoService::Instance() { return ProcessWide<CIoService>(); }

CIoService::CIoService() : m_pThread(std::make_shared<CIoThread>()) {}

// Destroyed idle at unload (ProcessWide), or at exit: for good either way.
CIoService::~CIoService() { m_pThread->Stop(); }

bool CIoService::Acquire()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_pThread->Start()) return false;
    ++m_nUsers;
    return true;
}

void CIoService::Release()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_nUsers == 0 || --m_nUsers > 0) return;
        m_pThread->Release();
    }
    // Released on the thread itself (a report function closing its camera):
    // the next Release from a host thread joins what is left.
    if (m_pThread->InThread()) return;
    // Outside the lock: the thread's last handlers may take or end a use.
    m_pThread->WaitReleased();
    // The lines of the last reports; a log that blocks is left behind.
    CLogWriter::Instance()->Finish();
}

int CIoService::Users() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nUsers;
}

}  // namespace korvane
