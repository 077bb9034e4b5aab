#include "report/LogFile.h"

#include "platform/Platform.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace korvane {

namespace {

// Reports arrive on several library threads; whole lines, one at a time.
std::mutex g_logMutex;

std::string LocalTimeText()
{
    const std::tm local = platform::LocalTime(std::time(nullptr));
    char buffer[128];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(buffer, n);
}

}  // namespace

CLogFile::CLogFile()
{
    if (GetLogPath())
        m_file.open(m_strPath, std::ios::out | std::ios::app | std::ios::binary);
}

bool CLogFile::GetLogPath()
{
    // The module does not move while loaded; the folder may come and go.
    static const std::string kModulePath = platform::LogBaseModulePath();
    std::string path = kModulePath;
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

void CLogFile::Write(const char* label, const std::uint8_t* data, int length)
{
    if (!data || !m_bOpen || !m_file) return;
    m_file << FormatLine(LocalTimeText(), label, data, length < 0 ? 0 : length);
    m_file.flush();
}

void WriteLogLine(const char* label, const std::uint8_t* data, int length)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    CLogFile log;
    log.Write(label, data, length);
}

}  // namespace korvane
