#include "Interactive.h"

#include "Terminal.h"

#include <algorithm>

namespace korvane::tool {

const char* const kInteractiveKeys =
    "keys: arrows move, space stops, + - zoom, f n focus far/near, o c iris open/close,\n"
    "      1-9 go to preset, s then 1-9 set preset, t track on/off, a auto-zoom on/off,\n"
    "      [ ] slower/faster, h this help, q (or Ctrl-C) quits";

namespace {

class CSession {
public:
    CSession(CCameraLink& link, COutput& output) : m_link(link), m_output(output) {}

    // False when the key ends the session.
    bool OnKey(const KeyPress& press);
    void ShowStatus()
    {
        m_output.SetStatus("[" + m_link.Options().Describe() + "] speed " + std::to_string(m_nSpeed) + " | " +
                           m_strLast + " | reports " + std::to_string(m_link.Reports()) + " | h help, q quit");
    }

private:
    void Did(const std::string& what, int (CKorvane::*call)())
    {
        (m_link.Camera().*call)();
        m_strLast = what;
    }
    void ChangeSpeed(int delta)
    {
        m_nSpeed = std::clamp(m_nSpeed + delta, 1, 63);
        m_link.Camera().SetHorizonSpeed(m_nSpeed);
        m_link.Camera().SetVertcalSpeed(m_nSpeed);
        m_strLast = "speed " + std::to_string(m_nSpeed);
    }

    CCameraLink& m_link;
    COutput& m_output;
    int m_nSpeed = m_link.Options().panSpeed;
    std::string m_strLast = "ready";
    bool m_bSetting = false;  // 's' pressed: the next digit stores a preset
    bool m_bTracking = false;
    bool m_bAutoZoom = false;
};

bool CSession::OnKey(const KeyPress& press)
{
    CKorvane& cam = m_link.Camera();
    switch (press.key) {
    case Key::Up: Did("up", &CKorvane::MoveUp); return true;
    case Key::Down: Did("down", &CKorvane::MoveDown); return true;
    case Key::Left: Did("left", &CKorvane::MoveLeft); return true;
    case Key::Right: Did("right", &CKorvane::MoveRight); return true;
    case Key::None: return false;  // end of input
    case Key::Other: break;
    }
    const char ch = press.ch;
    if (ch >= '1' && ch <= '9') {
        const int preset = ch - '0';
        cam.PreSet(preset, m_bSetting ? 1 : 0);
        m_strLast = std::string(m_bSetting ? "preset set " : "preset go ") + ch;
        m_bSetting = false;
        return true;
    }
    m_bSetting = false;
    switch (ch) {
    case 'q':
    case 'Q':
    case 3: return false;
    case ' ': Did("stop", &CKorvane::CameraStop); break;
    case '+':
    case '=': Did("zoom in", &CKorvane::ZoomPlus); break;
    case '-': Did("zoom out", &CKorvane::ZoomMinus); break;
    case 'f': Did("focus far", &CKorvane::FocusPlus); break;
    case 'n': Did("focus near", &CKorvane::FocusMinus); break;
    case 'o': Did("iris open", &CKorvane::IrisPlus); break;
    case 'c': Did("iris close", &CKorvane::IrisMinus); break;
    case 's':
        m_bSetting = true;
        m_strLast = "set which preset? (1-9)";
        break;
    case 't':
        m_bTracking = !m_bTracking;
        Did(m_bTracking ? "track on" : "track off", m_bTracking ? &CKorvane::OpenTrack : &CKorvane::CloseTrack);
        break;
    case 'a':
        m_bAutoZoom = !m_bAutoZoom;
        Did(m_bAutoZoom ? "auto-zoom on" : "auto-zoom off",
            m_bAutoZoom ? &CKorvane::OpenAutoZoom : &CKorvane::CloseAutoZoom);
        break;
    case '[': ChangeSpeed(-4); break;
    case ']': ChangeSpeed(4); break;
    case 'h':
    case '?': m_output.Line(kInteractiveKeys); break;
    default: m_strLast = "unknown key (h for help)";
    }
    return true;
}

}  // namespace

int RunInteractive(CCameraLink& link, COutput& output)
{
    if (!CRawTerminal::IsTerminal()) throw RunError("interactive mode needs a terminal on standard input and output");
    CRawTerminal terminal;
    CSession session(link, output);
    output.Line(kInteractiveKeys);
    session.ShowStatus();
    for (;;) {
        const auto press = terminal.ReadKey(std::chrono::milliseconds(500));
        if (press && !session.OnKey(*press)) break;
        session.ShowStatus();  // also refreshes the report count
    }
    link.Camera().CameraStop();
    output.EndStatus();
    return 0;
}

}  // namespace korvane::tool
