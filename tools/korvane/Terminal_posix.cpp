#include "Terminal.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <memory>

namespace korvane::tool {

struct CRawTerminal::Saved {
    termios settings;
};

namespace {

// One byte, or -1 when none comes within the time, -2 at end of input.
int ReadByte(int timeoutMs)
{
    pollfd watched{STDIN_FILENO, POLLIN, 0};
    if (::poll(&watched, 1, timeoutMs) <= 0) return -1;
    unsigned char byte;
    const ssize_t n = ::read(STDIN_FILENO, &byte, 1);
    if (n <= 0) return -2;
    return byte;
}

}  // namespace

bool CRawTerminal::IsTerminal() { return ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO); }

CRawTerminal::CRawTerminal()
{
    static Saved saved;  // one terminal per process
    if (::tcgetattr(STDIN_FILENO, &saved.settings) != 0) return;
    termios raw = saved.settings;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    m_bRaw = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    m_pSaved = &saved;
}

CRawTerminal::~CRawTerminal()
{
    if (m_bRaw && m_pSaved) ::tcsetattr(STDIN_FILENO, TCSANOW, &m_pSaved->settings);
}

std::optional<KeyPress> CRawTerminal::ReadKey(std::chrono::milliseconds timeout)
{
    const int first = ReadByte(static_cast<int>(timeout.count()));
    if (first == -1) return std::nullopt;
    if (first == -2) return KeyPress{Key::None, 0};
    if (first != 0x1B) return KeyPress{Key::Other, static_cast<char>(first)};
    // ESC [ A..D (or ESC O A..D) are the arrow keys; a lone ESC is a key too.
    const int second = ReadByte(30);
    if (second != '[' && second != 'O') return KeyPress{Key::Other, 0x1B};
    switch (ReadByte(30)) {
    case 'A': return KeyPress{Key::Up, 0};
    case 'B': return KeyPress{Key::Down, 0};
    case 'C': return KeyPress{Key::Right, 0};
    case 'D': return KeyPress{Key::Left, 0};
    default: return KeyPress{Key::Other, 0x1B};
    }
}

}  // namespace korvane::tool
