// The korvane tool as a child process, for tests: its output read as it comes
// (stdout and stderr together), its input written, its exit code awaited, all
// with bounds. With a terminal the child runs on a pseudo-terminal, as a user
// at a keyboard would run it.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace korvane::test {

class CToolProcess {
public:
    // workingDirectory: where the child runs (empty: here).
    CToolProcess(const std::vector<std::string>& args, bool terminal = false, const std::string& workingDirectory = "");
    ~CToolProcess();  // a child still running is killed
    CToolProcess(const CToolProcess&) = delete;
    CToolProcess& operator=(const CToolProcess&) = delete;

    // Reads until the output holds text; false when it does not in time.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(10));
    void Write(const std::string& bytes);
    void Signal(int number);
    // The exit code, or nothing when the child has not ended in time.
    std::optional<int> WaitExit(std::chrono::milliseconds limit = std::chrono::seconds(20));
    const std::string& Output() const { return m_output; }
    int Pid() const { return m_nPid; }
    // The reader of the child's output goes away (its next write breaks the pipe).
    void CloseOutput();

private:
    // Reads what is there within the time; false at end of output.
    bool ReadSome(std::chrono::milliseconds limit);

    int m_nPid = -1;
    int m_nOutput = -1;
    int m_nInput = -1;
    bool m_bEnded = false;
    std::string m_output;
};

struct ToolResult {
    int exit = -1;
    std::string output;
};

// Runs the tool to its end (bounded).
ToolResult RunTool(const std::vector<std::string>& args, std::chrono::milliseconds limit = std::chrono::seconds(20),
                   const std::string& workingDirectory = "");

}  // namespace korvane::test
