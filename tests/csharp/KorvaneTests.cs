// Korvane.cs under mono against libKorvanu.so and `korvane sim serial`
// subprocesses: frames reach the peer, reports reach the delegate on a
// library thread, Dispose from inside a report, many cameras, the collector
// running through a report storm, and no report after Dispose.
//   mono KorvaneTests.exe KORVANE_TOOL VERSION
using System;
using System.Collections.Concurrent;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Text.RegularExpressions;
using System.Threading;
using Korvane;

class Sim : IDisposable
{
    readonly Process m_process;
    readonly BlockingCollection<string> m_lines = new BlockingCollection<string>();
    public readonly string Device;

    public Sim(string tool, string args, string kind = "serial")
    {
        var start = new ProcessStartInfo(tool, "sim " + kind + " " + args + " --for 60s") {
            UseShellExecute = false, RedirectStandardInput = true, RedirectStandardOutput = true };
        m_process = Process.Start(start);
        new Thread(() => { string line; while ((line = m_process.StandardOutput.ReadLine()) != null) m_lines.Add(line); m_lines.CompleteAdding(); }) { IsBackground = true }.Start();
        Device = kind == "serial" ? WaitFor(@"the camera side is (\S+)").Groups[1].Value
                                  : WaitFor(@"http://127\.0\.0\.1:(\d+)/").Groups[1].Value;
    }

    // The first line from here on matching pattern; throws when none comes in 10 s.
    public Match WaitFor(string pattern)
    {
        var deadline = DateTime.UtcNow.AddSeconds(10);
        string line;
        while (m_lines.TryTake(out line, Math.Max(0, (int)(deadline - DateTime.UtcNow).TotalMilliseconds))) {
            Match found = Regex.Match(line, pattern);
            if (found.Success) return found;
        }
        throw new Exception("the simulated peer printed no line matching " + pattern);
    }

    public void Type(string line) { m_process.StandardInput.WriteLine(line); m_process.StandardInput.Flush(); }
    public void Dispose() { m_process.Kill(); m_process.WaitForExit(); }
}

// Counts reports and wakes a waiter at each; records the threads they came on.
class Inbox
{
    readonly object m_lock = new object();
    public readonly List<Message> Messages = new List<Message>();
    public int OnCallerThread;
    readonly int m_caller = Thread.CurrentThread.ManagedThreadId;

    public void Take(Report report)
    {
        lock (m_lock) {
            Messages.Add(report.Message);
            if (Thread.CurrentThread.ManagedThreadId == m_caller || report.Data.Length != 7) ++OnCallerThread;
            Monitor.PulseAll(m_lock);
        }
    }

    public int Count { get { lock (m_lock) return Messages.Count; } }

    public bool WaitFor(int count, int ms = 10000)
    {
        var deadline = DateTime.UtcNow.AddMilliseconds(ms);
        lock (m_lock) {
            while (Messages.Count < count) {
                int left = (int)(deadline - DateTime.UtcNow).TotalMilliseconds;
                if (left <= 0 || !Monitor.Wait(m_lock, left)) return Messages.Count >= count;
            }
            return true;
        }
    }
}

static class Tests
{
    static string s_tool;
    static int s_failures;

    static void Check(bool ok, string what)
    {
        Console.WriteLine((ok ? "ok    " : "FAIL  ") + what);
        if (!ok) ++s_failures;
    }

    static Camera Serial(Sim sim, uint address, Action<Report> onReport)
    {
        var cam = new Camera(Mode.Serial);
        cam.SetDeviceAddress(address);
        cam.SetHorizontalSpeed(30);
        cam.SetVerticalSpeed(30);
        if (!cam.SetCommDevice(sim.Device, 9600, 8, Protocol.PelcoD)) throw new Exception("SetCommDevice " + sim.Device);
        cam.OnReport = onReport;
        if (!cam.Open()) throw new Exception("Open");
        return cam;
    }

    static void FramesAndReports()
    {
        using (var sim = new Sim(s_tool, "")) {
            var inbox = new Inbox();
            using (var cam = Serial(sim, 1, inbox.Take)) {
                sim.WaitFor(@"\(ff 01 00 07 00 64 6c\)");  // preset 100: reports on
                Check(cam.MoveUp() && cam.Stop() && cam.Preset(5, PresetOp.Set), "commands return true");
                sim.WaitFor(@"\(ff 01 00 08 1e 1e 45\)");
                sim.WaitFor(@"\(ff 01 00 00 00 00 01\)");
                sim.WaitFor(@"\(ff 01 00 03 00 05 09\)");
                sim.Type("a");
                sim.Type("52");
                Check(inbox.WaitFor(2) && inbox.Messages[0] == Message.TargetAppears && inbox.Messages[1] == Message.CloseupReady,
                      "return codes reach the delegate as messages");
                Check(inbox.OnCallerThread == 0, "reports arrive on a library thread with their 7 bytes");
            }
            // Disposed: a null-safe camera that does nothing.
            var gone = new Camera(Mode.Serial);
            gone.Dispose();
            Check(!gone.MoveUp() && !gone.Open() && gone.IsDisposed, "a disposed camera's calls return false");
        }
    }

    static void DisposeInsideAReport()
    {
        using (var sim = new Sim(s_tool, "")) {
            var inbox = new Inbox();
            Camera cam = null;
            cam = Serial(sim, 1, report => { inbox.Take(report); cam.Dispose(); });
            sim.Type("a");
            Check(inbox.WaitFor(1), "the report that disposes its camera arrives");
            // The address is free once the camera is released: a successor
            // takes it, and the next report goes to the successor alone.
            var next = new Inbox();
            Camera successor = null;
            for (var deadline = DateTime.UtcNow.AddSeconds(10); successor == null && DateTime.UtcNow < deadline;) {
                var candidate = new Camera(Mode.Serial);
                candidate.SetDeviceAddress(1);
                if (candidate.SetCommDevice(sim.Device, 9600, 8, Protocol.PelcoD)) successor = candidate;
                else { candidate.Dispose(); Thread.Yield(); }
            }
            Check(successor != null, "the disposed camera's address is released");
            if (successor == null) return;
            successor.OnReport = next.Take;
            successor.Open();
            sim.Type("d");
            Check(next.WaitFor(1) && inbox.Count == 1, "no report reaches a camera disposed in its own report");
            successor.Dispose();
        }
    }

    static void ManyCameras()
    {
        const int count = 64;
        using (var sim = new Sim(s_tool, "")) {
            var cameras = new List<Camera>();
            for (uint address = 1; address <= count; ++address) cameras.Add(Serial(sim, address, null));
            foreach (Camera cam in cameras) cam.MoveLeft();
            var seen = new HashSet<string>();
            while (seen.Count < count) seen.Add(sim.WaitFor(@"addr (\d+): pan left").Groups[1].Value);
            Check(seen.Count == count, count + " cameras on one line each reach the peer");
            foreach (Camera cam in cameras) cam.Dispose();
        }
    }

    // A storm of reports (the peer sends a burst of 100 at each round) while
    // the collector runs and cameras left to the finalizer come and go; then
    // Dispose, and not one report after it.
    static void CollectorDuringAStorm()
    {
        using (var sim = new Sim(s_tool, "")) {
            int afterDispose = 0;
            int disposed = 0;
            var inbox = new Inbox();
            Camera cam = Serial(sim, 1, report => {
                if (Volatile.Read(ref disposed) == 1) Interlocked.Increment(ref afterDispose);
                inbox.Take(report);
            });
            var deadline = DateTime.UtcNow.AddSeconds(30);
            for (int sent = 0; inbox.Count < 1000 && DateTime.UtcNow < deadline; GC.Collect(), GC.WaitForPendingFinalizers()) {
                if (sent - inbox.Count < 200) {
                    sim.Type(string.Join("\n", new string[100].Select(_ => "a")));
                    sent += 100;
                }
                new Camera(Mode.Serial).OnReport = r => { };  // released by its finalizer
            }
            Check(inbox.Count >= 1000, "1000 reports arrive while the collector runs (got " + inbox.Count + ")");
            sim.Type(string.Join("\n", new string[100].Select(_ => "d")));
            cam.Dispose();
            Volatile.Write(ref disposed, 1);
            var next = new Inbox();
            using (Camera successor = Serial(sim, 1, next.Take)) {
                sim.Type("a");
                Check(next.WaitFor(1), "reports go on to the next camera");
            }
            Check(afterDispose == 0, "no report after Dispose returned (" + afterDispose + ")");
        }
    }

    // Peers killed mid-session: the next commands return false and LastError
    // says why; the test tells answered (ONVIF) from unconfirmed (serial).
    static void PeersKilledMidSession()
    {
        var cases = new[] {
            new { Kind = "serial", Test = LinkTest.Unconfirmed, Why = "writing to" },
            new { Kind = "onvif", Test = LinkTest.Answered, Why = "Stop" } };
        foreach (var c in cases) {
            var sim = new Sim(s_tool, c.Kind == "onvif" ? "--port 0" : "", c.Kind);
            using (var cam = new Camera(c.Kind == "onvif" ? Mode.Network : Mode.Serial)) {
                if (c.Kind == "onvif") {
                    cam.SetDeviceType(DeviceType.Onvif);
                    cam.SetSocketParam(Protocol.PelcoD, "127.0.0.1", uint.Parse(sim.Device), 0, "admin", "secret");
                } else {
                    cam.SetDeviceAddress(1);
                    cam.SetCommDevice(sim.Device, 9600, 8, Protocol.PelcoD);
                }
                Check(cam.Open() && cam.Stop() && cam.LastError == "", c.Kind + ": a stop to a live peer is done");
                Check(cam.TestLink() == c.Test, c.Kind + ": the test is " + c.Test);
                sim.Dispose();  // killed
                var deadline = DateTime.UtcNow.AddSeconds(5);
                bool failed = false;
                while (!failed && DateTime.UtcNow < deadline) failed = !cam.Stop();
                string why = cam.LastError;
                Check(failed && why.Contains(c.Why) && cam.LastResult == Result.LinkFailed,
                      c.Kind + ": a stop after the peer died returns false: " + why);
            }
        }
        var gone = new Camera(Mode.Serial);
        gone.Dispose();
        Check(!gone.Stop() && gone.LastError == "the camera is disposed" && gone.TestLink() == LinkTest.Failed,
              "a disposed camera's stop says why");
    }

    static int Main(string[] args)
    {
        s_tool = args[0];
        Check(Camera.Version == args[1], "the library's version is " + args[1]);
        FramesAndReports();
        DisposeInsideAReport();
        ManyCameras();
        CollectorDuringAStorm();
        PeersKilledMidSession();
        Console.WriteLine(s_failures == 0 ? "C# binding: all checks passed" : "C# binding: " + s_failures + " checks failed");
        return s_failures == 0 ? 0 : 1;
    }
}
