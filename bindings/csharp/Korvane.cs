// Korvane for .NET hosts: add this one file to the project and put
// Korvanu.dll (libKorvanu.so on Linux with mono) beside the program. It calls
// the library's C interface (korvane_c.h) through P/Invoke: nothing else.
//
//   using (var cam = new Korvane.Camera(Korvane.Mode.Serial)) {
//       cam.SetDeviceAddress(1);
//       cam.OnReport = report => Console.WriteLine(report.Message);  // a library thread
//       if (cam.SetCommDevice("COM3", 9600, 8, Korvane.Protocol.PelcoD) && cam.Open()) {
//           cam.MoveLeft();
//           cam.Stop();
//       }
//   }
//
// Results, not exceptions: Open and SetCommDevice return false on failure;
// commands return true when done (or queued on a healthy serial line) and
// false when they failed: an ONVIF camera that refused or did not answer, a
// failed send, a failing line, an operation the link cannot send, a disposed
// camera. Right after a false, on the same thread, LastError says why and
// LastResult what kind of failure it was. ConnectTest's true may mean only
// "sent" (a link that cannot answer): TestLink tells answered, unconfirmed
// and failed apart. Only the constructor throws (OutOfMemoryException).
// Texts cross as UTF-8.
//
// Lifetime: once Dispose (or the finalizer) has returned, no report of the
// camera starts. Dispose may be called from the camera's own report: the
// camera is closed at once and released as soon as that report returns. The
// library calls one static function, alive for the whole process, with a
// handle to the camera's report target, so no delegate it may call is ever
// collected. An exception thrown by OnReport is written to standard error
// and does not reach the library. A camera still alive when the process ends
// is released then (AppDomain.ProcessExit): the library's thread that
// delivered its reports ends with it, so the runtime has none to wait for.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;

namespace Korvane
{
    public enum Mode { Serial = 1, Network = 2, TrackSystem = 3 }
    public enum Protocol { PelcoD = 1, PelcoP = 2, Visca = 3 }
    public enum DeviceType { Relay1 = 1, Relay2 = 2, Onvif = 3, Relay4 = 4, ViscaIp = 16 }  // ViscaIp: UDP, port 0 is 52381
    public enum PresetOp : byte { Go = 0, Set = 1, Clear = 2 }
    // What the calling thread's last call came to (KORVANE_RESULT_*).
    public enum Result
    {
        Ok = 0, Superseded = 1, Unsupported = 2, NotOpen = 3, LinkFailed = 4, TimedOut = 5, Refused = 6,
        QueueFull = 7, Unconfirmed = 8
    }
    // Camera.TestLink: the camera answered, the test only went out (a link
    // that cannot answer), or it failed (LastError says why).
    public enum LinkTest { Failed = 0, Answered = 1, Unconfirmed = 2 }
    public enum Message : uint
    {
        TargetAppears = 0x8400, TargetDisappears = 0x8401, CloseupReady = 0x8402, MultipleTargets = 0x8403,
        DownPodium = 0x8404, UpPodium = 0x8405, WriteStart = 0x8406, WriteStop = 0x8407
    }

    // One report: its bytes (a copy) and its message code.
    public struct Report
    {
        public byte[] Data;
        public Message Message;
    }

    internal static class Native
    {
        const string Lib = "Korvanu";

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate void ReportFn(IntPtr data, int length, uint message, IntPtr ctx);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern IntPtr korvane_version();
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern IntPtr korvane_camera_new(int mode);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern void korvane_camera_free(IntPtr cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern void korvane_set_device_address(CameraHandle cam, uint address);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern void korvane_set_horizontal_speed(CameraHandle cam, int speed);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern void korvane_set_vertical_speed(CameraHandle cam, int speed);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_set_comm_device(CameraHandle cam, byte[] name, uint baud, byte dataBits, int protocol);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern void korvane_set_device_type(CameraHandle cam, int type);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern void korvane_set_socket_param(CameraHandle cam, int protocol, byte[] ip, uint port, uint value4, byte[] user, byte[] password, byte[] text7);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern void korvane_set_system_type(CameraHandle cam, int type);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern void korvane_set_system_param(CameraHandle cam, int protocol, byte[] ip, uint port);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern void korvane_set_recv_notify(CameraHandle cam, ReportFn notify, IntPtr ctx);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_open(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern void korvane_close(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, EntryPoint = "korvane_close")] internal static extern void korvane_close_raw(IntPtr cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_move_up(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_move_down(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_move_left(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_move_right(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_move_top_left(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_move_top_right(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_move_bottom_left(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_move_bottom_right(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_stop(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_zoom_plus(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_zoom_minus(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_focus_plus(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_focus_minus(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_iris_plus(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_iris_minus(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_preset(CameraHandle cam, int preset, byte op);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_open_track(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_close_track(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_open_auto_zoom(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_close_auto_zoom(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_open_auto_write(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_close_auto_write(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_connect_test(CameraHandle cam);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] internal static extern int korvane_last_error(byte[] text, int size);

        // Zero-terminated UTF-8; null stays null (the library reads it as empty).
        internal static byte[] Utf8(string text)
        {
            if (text == null) return null;
            var bytes = new byte[Encoding.UTF8.GetByteCount(text) + 1];
            Encoding.UTF8.GetBytes(text, 0, text.Length, bytes, 0);
            return bytes;
        }
    }

    // Where a camera's reports go; the library holds a GCHandle to it as the
    // report's context until the camera is released.
    internal sealed class ReportTarget
    {
        internal volatile Action<Report> Handler;
        [ThreadStatic] internal static ReportTarget Dispatching;
    }

    // The library's camera: released (korvane_camera_free) exactly once, by
    // Dispose or by the finalizer.
    public sealed class CameraHandle : SafeHandle
    {
        internal readonly ReportTarget Target = new ReportTarget();
        readonly GCHandle m_target;

        // Cameras not released yet, held weakly: one the program forgot is
        // still its finalizer's.
        static readonly Dictionary<IntPtr, WeakReference> s_live = new Dictionary<IntPtr, WeakReference>();

        static CameraHandle()
        {
            AppDomain.CurrentDomain.ProcessExit += (sender, args) => ReleaseLive();
        }

        internal CameraHandle(IntPtr camera) : base(IntPtr.Zero, true)
        {
            m_target = GCHandle.Alloc(Target);
            SetHandle(camera);
            lock (s_live) s_live[camera] = new WeakReference(this);
        }

        static void ReleaseLive()
        {
            var live = new List<CameraHandle>();
            lock (s_live) {
                foreach (WeakReference entry in s_live.Values) {
                    var camera = entry.Target as CameraHandle;
                    if (camera != null) live.Add(camera);
                }
            }
            foreach (CameraHandle camera in live) camera.Dispose();
        }

        internal IntPtr Context { get { return GCHandle.ToIntPtr(m_target); } }

        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }

        protected override bool ReleaseHandle()
        {
            Target.Handler = null;
            IntPtr camera = handle;
            lock (s_live) s_live.Remove(camera);
            GCHandle target = m_target;
            if (ReportTarget.Dispatching == Target) {
                // Inside this camera's own report: the library allows a close
                // here (no report starts after it), and releases the camera
                // once this report has returned.
                Native.korvane_close_raw(camera);
                ThreadPool.QueueUserWorkItem(_ => { Native.korvane_camera_free(camera); target.Free(); });
                return true;
            }
            Native.korvane_camera_free(camera);
            target.Free();
            return true;
        }
    }

    public sealed class Camera : IDisposable
    {
        // The one function the library calls, for every camera; static, so
        // never collected.
        static readonly Native.ReportFn s_report = Deliver;
        [ThreadStatic] static bool t_background;
        [ThreadStatic] static bool t_disposedCall;
        readonly CameraHandle m_handle;

        public Camera(Mode mode)
        {
            IntPtr camera = Native.korvane_camera_new((int)mode);
            if (camera == IntPtr.Zero) throw new OutOfMemoryException("korvane_camera_new");
            m_handle = new CameraHandle(camera);
        }

        // The library's version, e.g. "0.2.0".
        public static string Version
        {
            get
            {
                IntPtr text = Native.korvane_version();
                int length = 0;
                while (Marshal.ReadByte(text, length) != 0) ++length;
                var bytes = new byte[length];
                Marshal.Copy(text, bytes, 0, length);
                return Encoding.UTF8.GetString(bytes);
            }
        }

        public bool IsDisposed { get { return m_handle.IsClosed; } }

        // Set before Open (a serial camera then switches the tracker's reports
        // on); null turns reports off. Runs on one of the library's threads.
        public Action<Report> OnReport
        {
            get { return m_handle.Target.Handler; }
            set
            {
                if (m_handle.IsClosed) return;
                m_handle.Target.Handler = value;
                if (value == null) Native.korvane_set_recv_notify(m_handle, null, IntPtr.Zero);
                else Native.korvane_set_recv_notify(m_handle, s_report, m_handle.Context);
            }
        }

        public void SetDeviceAddress(uint address) { if (Live) Native.korvane_set_device_address(m_handle, address); }
        public void SetHorizontalSpeed(int speed) { if (Live) Native.korvane_set_horizontal_speed(m_handle, speed); }
        public void SetVerticalSpeed(int speed) { if (Live) Native.korvane_set_vertical_speed(m_handle, speed); }
        public bool SetCommDevice(string name, uint baud, byte dataBits, Protocol protocol)
        {
            return Live && Native.korvane_set_comm_device(m_handle, Native.Utf8(name), baud, dataBits, (int)protocol) == 1;
        }
        public void SetDeviceType(DeviceType type) { if (Live) Native.korvane_set_device_type(m_handle, (int)type); }
        public void SetSocketParam(Protocol protocol, string ip, uint port, uint value4 = 0, string user = "",
                                   string password = "", string text7 = "")
        {
            if (Live)
                Native.korvane_set_socket_param(m_handle, (int)protocol, Native.Utf8(ip), port, value4, Native.Utf8(user),
                                                Native.Utf8(password), Native.Utf8(text7));
        }
        public void SetSystemType(int type) { if (Live) Native.korvane_set_system_type(m_handle, type); }
        public void SetSystemParam(Protocol protocol, string ip, uint port)
        {
            if (Live) Native.korvane_set_system_param(m_handle, (int)protocol, Native.Utf8(ip), port);
        }

        public bool Open() { return Sent(Live && Native.korvane_open(m_handle) == 1); }
        public void Close() { if (Live) Native.korvane_close(m_handle); }

        public bool MoveUp() { return Sent(Live && Native.korvane_move_up(m_handle) == 1); }
        public bool MoveDown() { return Sent(Live && Native.korvane_move_down(m_handle) == 1); }
        public bool MoveLeft() { return Sent(Live && Native.korvane_move_left(m_handle) == 1); }
        public bool MoveRight() { return Sent(Live && Native.korvane_move_right(m_handle) == 1); }
        public bool MoveTopLeft() { return Sent(Live && Native.korvane_move_top_left(m_handle) == 1); }
        public bool MoveTopRight() { return Sent(Live && Native.korvane_move_top_right(m_handle) == 1); }
        public bool MoveBottomLeft() { return Sent(Live && Native.korvane_move_bottom_left(m_handle) == 1); }
        public bool MoveBottomRight() { return Sent(Live && Native.korvane_move_bottom_right(m_handle) == 1); }
        public bool Stop() { return Sent(Live && Native.korvane_stop(m_handle) == 1); }
        public bool ZoomPlus() { return Sent(Live && Native.korvane_zoom_plus(m_handle) == 1); }
        public bool ZoomMinus() { return Sent(Live && Native.korvane_zoom_minus(m_handle) == 1); }
        public bool FocusPlus() { return Sent(Live && Native.korvane_focus_plus(m_handle) == 1); }
        public bool FocusMinus() { return Sent(Live && Native.korvane_focus_minus(m_handle) == 1); }
        public bool IrisPlus() { return Sent(Live && Native.korvane_iris_plus(m_handle) == 1); }
        public bool IrisMinus() { return Sent(Live && Native.korvane_iris_minus(m_handle) == 1); }
        public bool Preset(int preset, PresetOp op = PresetOp.Go) { return Sent(Live && Native.korvane_preset(m_handle, preset, (byte)op) == 1); }
        public bool OpenTrack() { return Sent(Live && Native.korvane_open_track(m_handle) == 1); }
        public bool CloseTrack() { return Sent(Live && Native.korvane_close_track(m_handle) == 1); }
        public bool OpenAutoZoom() { return Sent(Live && Native.korvane_open_auto_zoom(m_handle) == 1); }
        public bool CloseAutoZoom() { return Sent(Live && Native.korvane_close_auto_zoom(m_handle) == 1); }
        public bool OpenAutoWrite() { return Sent(Live && Native.korvane_open_auto_write(m_handle) == 1); }
        public bool CloseAutoWrite() { return Sent(Live && Native.korvane_close_auto_write(m_handle) == 1); }
        public bool ConnectTest() { return Sent(Live && Native.korvane_connect_test(m_handle) == 1); }

        // The test's three outcomes: ConnectTest alone says true for both
        // answered and unconfirmed, as the library's 1 does.
        public LinkTest TestLink()
        {
            if (!ConnectTest()) return LinkTest.Failed;
            return LastResult == Result.Unconfirmed ? LinkTest.Unconfirmed : LinkTest.Answered;
        }

        // Why the calling thread's last call (of any camera) failed; "" after
        // a success. Read it right after the call, on the same thread: the
        // library keeps it per thread.
        public string LastError
        {
            get
            {
                if (t_disposedCall) return "the camera is disposed";
                var text = new byte[512];
                Native.korvane_last_error(text, text.Length);
                int length = Array.IndexOf(text, (byte)0);
                return Encoding.UTF8.GetString(text, 0, length < 0 ? text.Length : length);
            }
        }

        // What the calling thread's last call came to.
        public Result LastResult
        {
            get { return t_disposedCall ? Result.NotOpen : (Result)Native.korvane_last_error(null, 0); }
        }

        // A call on a disposed camera never reaches the library: its reason is
        // this binding's own.
        bool Sent(bool done)
        {
            t_disposedCall = !done && m_handle.IsClosed;
            return done;
        }

        // Releases the camera: no report starts after this returns.
        public void Dispose() { m_handle.Dispose(); }

        bool Live { get { return !m_handle.IsClosed; } }

        static void Deliver(IntPtr data, int length, uint message, IntPtr ctx)
        {
            // The library's threads become the runtime's on their first
            // report: as background threads, so that they never hold the
            // process open at its end.
            if (!t_background) {
                Thread.CurrentThread.IsBackground = true;
                t_background = true;
            }
            var target = (ReportTarget)GCHandle.FromIntPtr(ctx).Target;
            Action<Report> handler = target.Handler;
            if (handler == null) return;
            var bytes = new byte[length > 0 ? length : 0];
            if (bytes.Length > 0) Marshal.Copy(data, bytes, 0, bytes.Length);
            ReportTarget outer = ReportTarget.Dispatching;
            ReportTarget.Dispatching = target;
            try {
                handler(new Report { Data = bytes, Message = (Message)message });
            } catch (Exception e) {
                Console.Error.WriteLine("Korvane: the report function threw: " + e);
            } finally {
                ReportTarget.Dispatching = outer;
            }
        }
    }
}
