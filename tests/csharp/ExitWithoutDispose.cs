// A host that ends without disposing its camera, after a report reached it on
// the library's thread: the process must still end (run.sh bounds the time).
//   mono ExitWithoutDispose.exe KORVANE_TOOL
using System;
using System.Threading;
using Korvane;

static class ExitWithoutDispose
{
    static int Main(string[] args)
    {
        var sim = new Sim(args[0], "");
        var reported = new ManualResetEventSlim();
        var cam = new Camera(Mode.Serial);
        cam.SetDeviceAddress(1);
        if (!cam.SetCommDevice(sim.Device, 9600, 8, Protocol.PelcoD)) { Console.WriteLine("SetCommDevice failed"); return 1; }
        cam.OnReport = report => reported.Set();
        if (!cam.Open()) { Console.WriteLine("Open failed"); return 1; }
        sim.WaitFor(@"\(ff 01 00 07 00 64 6c\)");  // reports on
        sim.Type("a");
        if (!reported.Wait(10000)) { Console.WriteLine("no report arrived"); return 1; }
        sim.Dispose();
        Console.WriteLine("a report arrived; leaving Main with the camera open");
        GC.KeepAlive(cam);
        return 0;
    }
}
