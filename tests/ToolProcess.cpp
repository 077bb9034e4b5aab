#include "ToolProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace korvane::test {

CToolProcess::CToolProcess(const std::vector<std::string>& args, bool terminal, const std::string& workingDirectory)
{
    std::vector<std::string> argv{KORVANE_TOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);

    int childIn = -1, childOut = -1;
    if (terminal) {
        int master = -1, slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
        m_nOutput = master;
        m_nInput = ::dup(master);
        childIn = childOut = slave;
    } else {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("pipe failed");
        childIn = in[0];
        m_nInput = in[1];
        m_nOutput = out[0];
        childOut = out[1];
    }
    ::fcntl(m_nOutput, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_nInput, F_SETFD, FD_CLOEXEC);
    m_nPid = ::fork();
    if (m_nPid == 0) {
        if (terminal) {
            ::setsid();
            ::ioctl(childIn, TIOCSCTTY, 0);
        }
        if (!workingDirectory.empty() && ::chdir(workingDirectory.c_str()) != 0) ::_exit(126);
        ::dup2(childIn, STDIN_FILENO);
        ::dup2(childOut, STDOUT_FILENO);
        ::dup2(childOut, STDERR_FILENO);
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    ::close(childIn);
    if (childOut != childIn) ::close(childOut);
    if (m_nPid < 0) throw std::runtime_error("fork failed");
}

void CToolProcess::Signal(int number)
{
    if (m_nPid > 0 && !m_bEnded) ::kill(m_nPid, number);
}

CToolProcess::~CToolProcess()
{
    if (m_nPid > 0 && !m_bEnded) {
        ::kill(m_nPid, SIGKILL);
        ::waitpid(m_nPid, nullptr, 0);
    }
    if (m_nOutput >= 0) ::close(m_nOutput);
    if (m_nInput >= 0) ::close(m_nInput);
}

bool CToolProcess::ReadSome(std::chrono::milliseconds limit)
{
    if (m_nOutput < 0) return false;
    pollfd watched{m_nOutput, POLLIN, 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(limit.count()));
    if (ready <= 0) return ready == 0 || errno == EINTR;
    char buffer[4096];
    const ssize_t n = ::read(m_nOutput, buffer, sizeof buffer);
    if (n <= 0) return false;  // end of output (EIO on a pseudo-terminal)
    m_output.append(buffer, static_cast<std::size_t>(n));
    return true;
}

bool CToolProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (m_output.find(text) == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !ReadSome(left)) return m_output.find(text) != std::string::npos;
    }
    return true;
}

void CToolProcess::CloseOutput()
{
    ::close(m_nOutput);
    m_nOutput = -1;
}

void CToolProcess::Write(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_nInput, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

std::optional<int> CToolProcess::WaitExit(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        // Reading keeps the child from blocking on a full pipe.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const bool timeLeft = left.count() > 0;
        const bool open = timeLeft && ReadSome(std::min(left, std::chrono::milliseconds(100)));
        int status = 0;
        // Output ended: the child is exiting (its output closes as it ends).
        if (::waitpid(m_nPid, &status, open || !timeLeft ? WNOHANG : 0) == m_nPid) {
            m_bEnded = true;
            while (ReadSome(std::chrono::milliseconds(50))) {
            }
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (left.count() <= 0) return std::nullopt;
    }
}

ToolResult RunTool(const std::vector<std::string>& args, std::chrono::milliseconds limit,
                   const std::string& workingDirectory)
{
    CToolProcess tool(args, false, workingDirectory);
    const int exit = tool.WaitExit(limit).value_or(-1);
    return {exit, tool.Output()};
}

}  // namespace korvane::test
