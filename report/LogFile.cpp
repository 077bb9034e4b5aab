#include "report/LogFile.h"

#include "io/ProcessWide.h"
#include "platform/Platform.h"

#include <cstdio>
#include <ctime>
#include <chrono>
#include <system_error>

namespace korvane {

namespace {

// Lines still queued when the last camera closes normally take a moment; a
// file that blocks must not hold the close up for longer.
constexpr auto kFinishLimit = std::chrono::milliseconds(500);

std::string LocalTimeText()
{
    const std::tm local = platform::LocalTime(std::time(nullptr));
    char buffer[128];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(buffer, n);
}

}  // namespace

CLogFile::CLogFile(const std::string& modulePath)
{
    if (GetLogPath(modulePath))
        m_file.open(m_strPath, std::ios::out | std::ios::app | std::ios::binary);
}

bool CLogFile::GetLogPath(const std::string& modulePath)
{
    std::string path = modulePath;
    const char sep = platform::PathSeparator();
    const std::size_t slash = path.find_last_of(sep);
    if (path.empty() || slash == std::string::npos) return false;
    path.resize(slash);
    path += sep;
    path += "log";
    if (!platform::IsDirectory(path)) return false;
    m_strPath = path + sep + "log.txt";
    m_bOpen = true;
    return true;
}

std::string CLogFile::FormatLine(const std::string& timeText, const char* label,
                                 const std::uint8_t* data, int length)
{
    std::string line = "[" + timeText + "] " + label;
    char hex[4];
    for (int i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof hex, "%02x ", data[i]);
        line += hex;
    }
    line += "\r\n";  // the file is binary: the line end is written as it stands
    return line;
}

void CLogFile::Append(const std::string& line)
{
    if (!m_bOpen || !m_file) return;
    m_file << line;
    m_file.flush();
}

std::shared_ptr<CLogWriter> CLogWriter::Instance() { return ProcessWide<CLogWriter>(); }

// The module does not move while loaded; the folder may come and go.
CLogWriter::CLogWriter() : m_strModulePath(platform::LogBaseModulePath()) {}

CLogWriter::~CLogWriter()
{
    // Destroyed idle (ProcessWide): there is no thread; never wait here.
    if (m_thread.joinable()) m_thread.detach();
}

bool CLogWriter::Idle() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bEnded && !m_thread.joinable();
}

void CLogWriter::Post(std::string line)
{
    bool firstDrop = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.size() >= kQueueLimit) {
            firstDrop = m_nDropped++ == 0;
        } else {
            m_queue.push_back(std::move(line));
            m_bFinish = false;
        }
        if (m_bEnded && !m_queue.empty()) {
            // An earlier writer that has ended is joined at once.
            if (m_thread.joinable()) m_thread.join();
            if (!m_bHoldsModule) m_bHoldsModule = platform::HoldModule();
            try {
                m_thread = std::thread([this] { Run(); });
                m_bEnded = false;
            } catch (const std::system_error&) {
                m_queue.clear();  // no log without a writer
            }
        }
    }
    m_wake.notify_one();
    if (firstDrop) platform::DebugOutput("Korvanu: the log file takes no lines: they are dropped until it does\n");
}

void CLogWriter::Run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_queue.empty() || m_bFinish; });
        if (m_queue.empty()) break;
        lock.unlock();
        {
            CLogFile file(m_strModulePath);  // may block: lines queued meanwhile go into this batch
            lock.lock();
            std::deque<std::string> lines;
            lines.swap(m_queue);
            const std::uint64_t dropped = m_nDropped;
            m_nDropped = 0;
            lock.unlock();
            for (const std::string& line : lines) file.Append(line);
            if (dropped > 0)
                file.Append("[" + LocalTimeText() + "] " + std::to_string(dropped) +
                            " log lines dropped: the log file took no lines\r\n");
        }  // the close may block as well
        lock.lock();
    }
    m_bEnded = true;
    m_ended.notify_all();
}

void CLogWriter::Finish()
{
    std::thread ended;
    bool holdsModule = false;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_thread.get_id() == std::this_thread::get_id()) return;
        m_bFinish = true;
        m_wake.notify_one();
        if (!m_ended.wait_for(lock, kFinishLimit, [this] { return m_bEnded; })) return;  // stuck in the file
        ended = std::move(m_thread);
        std::swap(holdsModule, m_bHoldsModule);
    }
    if (ended.joinable()) ended.join();  // it has left Run(); only its exit is left
    if (holdsModule) platform::ReleaseModule();
}

void WriteLogLine(const char* label, const std::uint8_t* data, int length)
{
    if (!data || !label) return;
    CLogWriter::Instance()->Post(CLogFile::FormatLine(LocalTimeText(), label, data, length < 0 ? 0 : length));
}

}  // namespace korvane
