package uart;

import static Quorvia.SerialPortLocal.*;
import static testkit.Check.*;
import Quorvia.*;
import java.nio.file.*;
import java.util.*;
import java.util.concurrent.*;
import testkit.*;

/** QEMU's FT232 under the guest's ftdi_sio, which the host side (usb_far_end.py) unplugs and plugs on request lines over ttyS3. */
public class UsbTest {
    static final String USB0 = "/dev/ttyUSB0", USB1 = "/dev/ttyUSB1";
    static int host;

    /** One request to the host side, and its answer. */
    static String ask(String request) {
        byte[] line = (request + "\n").getBytes(), one = new byte[1];
        equal(line.length, Pty.write(host, line, 0, line.length), "request " + request);
        var answer = new StringBuilder();
        while (Pty.read(host, one, 0, 1, 20_000) == 1 && one[0] != '\n') answer.append((char) one[0]);
        isTrue(one[0] == '\n', "no answer to " + request);
        return answer.toString();
    }

    /** Waits for the kernel to make or remove the node, in milliseconds since `start`. */
    static long await(String path, boolean present, long start) throws Exception {
        try (WatchService watch = FileSystems.getDefault().newWatchService()) {
            Path.of("/dev").register(watch, StandardWatchEventKinds.ENTRY_CREATE, StandardWatchEventKinds.ENTRY_DELETE);
            for (WatchKey key; Files.exists(Path.of(path)) != present; key.pollEvents(), key.reset()) {
                isTrue((key = watch.poll(20, TimeUnit.SECONDS)) != null, path + (present ? " never came" : " never went"));
            }
        }
        return (System.nanoTime() - start) / 1_000_000;
    }

    /** Asks for a plug or an unplug; the milliseconds until the node came or went. */
    static long move(String request, String path) throws Exception {
        long start = System.nanoTime();
        isTrue(ask(request).startsWith(request + "ged"), request);
        return await(path, request.equals("plug"), start);
    }

    /** Byte i of the stream that the far end checks (expected() in usb_far_end.py). */
    static byte streamByte(long i) {
        long x = (i + 1) * 0x9E3779B97F4A7C15L;
        return (byte) (x >>> 56 ^ x >>> 29);
    }

    /** Random bytes out through the adapter and back from the host's echo. */
    static void echoes(int slot, int count) {
        byte[] sent = new byte[count];
        new Random(count).nextBytes(sent);
        equal(count, SerPutData(slot, sent, count), "sent");
        equal(Arrays.toString(sent), Methods.receive(slot, count), "the echo");
    }

    public static void main(String[] args) throws Exception {
        host = Pty.openDevice("/dev/ttyS3");
        equal("ok", ask("echo"), "the host side");
        await(USB0, true, 0);

        group("the FTDI driver: a bit rate gives 0 or 5003 as it reads the rate back; DTR and RTS can be set", () -> {
            int slot = Methods.open(USB0), lines = Pty.openDevice(USB0);
            for (int i = 0; i < Pty.SPEEDS.length; i++) {
                int result = SerConfigure(SerialConfig.byNumber("", slot + 1).line(i, 3, 0, 0, 0)), speed = Pty.termios(lines)[Pty.OSPEED];
                equal(speed == Pty.SPEEDS[i] ? 0 : 5003, result, "rate index " + i + ", read back as " + speed);
            }
            equal(List.of(0, 0, 0, 0), List.of(SerSetDTR(slot, false), SerSetRTS(slot, false), SerSetDTR(slot, true), SerSetRTS(slot, true)), "");
            equal("1110", "" + SerSigCTS(slot) + SerSigDSR(slot) + SerSigCD(slot) + SerSigRing(slot), "CTS DSR CD RI, as QEMU's FT232 gives them");
            Pty.close(lines);
            equal(0, SerClosePort(slot), "close");
        });

        group("an unplug under waiting receives and a stream of sends: -1 soon; each count was sent in order; every call fails at once", () -> {
            int slot = Methods.open(USB0);
            equal(0, SerConfigure(SerialConfig.byNumber("", slot + 1).line(11, 3, 0, 0, 2)), "115200 8N1, RTS/CTS");
            equal("ok", ask("sink"), "the host counts");
            byte[] chunk = new byte[256];
            CountDownLatch started = new CountDownLatch(1), gone = new CountDownLatch(1);
            Future<Long> stream = ForkJoinPool.commonPool().submit(() -> {
                long taken = 0;
                for (int failed = 0; failed < 100; ) {
                    boolean after = gone.getCount() == 0;
                    for (int i = 0; i < 256; i++) chunk[i] = streamByte(taken + i);
                    int n = SerPutData(slot, chunk, 256);
                    isTrue(n >= -1 && n <= 256 && !(after && n != -1), "a send gave " + n + (after ? " after the unplug" : ""));
                    taken += Math.max(n, 0);
                    if (taken > 16384) started.countDown();
                    if (after) failed++;
                }
                return taken;
            });
            isTrue(started.await(20, TimeUnit.SECONDS), "16 KiB sent");
            SerSetTimeoutRx(slot, 10_000);
            List<Pty.Blocked<Long>> receives = new ArrayList<>();
            for (boolean oneByte : new boolean[] {true, false}) {  // -1 times the moment it returned: else no moment shows
                receives.add(Pty.startBlocked(() -> (oneByte ? SerGetByte(slot) : SerGetData(slot, new byte[64], 64)) * System.nanoTime(),
                        Pty.POLL_CALLS));
            }
            int queued = SerTxBufCount(slot);
            long asked = System.nanoTime();
            move("unplug", USB0);
            gone.countDown();
            for (var receive : receives) {
                long ms = (-receive.result().get(15, TimeUnit.SECONDS) - asked) / 1_000_000;
                System.out.println("usb: a waiting receive returned -1 " + ms + " ms after the unplug was asked");
                isTrue(ms > 0 && ms < 1000, "the waiting receives gave -1 within a second");
            }
            long taken = stream.get(20, TimeUnit.SECONDS);
            String[] count = ask("count").split(" ");
            // The driver takes bytes, and drops them, until the kernel notices the unplug.
            System.out.println("usb: " + taken + " bytes taken, " + count[1] + " reached the far end, " + queued + " queued at the unplug");
            equal("0", count[2], "bytes out of the stream's order");
            isTrue(taken >= Long.parseLong(count[1]), "more bytes reached the far end than were taken");
            Methods.afterLineGone("usb: unplugged", slot);
            equal("ok", ask("echo"), "the host echoes");
            System.out.println("usb: plugged in again, ttyUSB1 after " + move("plug", USB1) + " ms");
            isTrue(!Files.exists(Path.of(USB0)), "no ttyUSB0 while the dead port is open");
            long closing = millis(() -> equal(0, SerClosePort(slot), "close"));
            System.out.println("usb: SerClosePort after the unplug took " + closing + " ms");
            isTrue(closing < 1000, "the close took " + closing + " ms");
            move("unplug", USB1);
            System.out.println("usb: plugged in again, ttyUSB0 after " + move("plug", USB0) + " ms");
            equal(slot, Methods.open(USB0), "the same name opens into the same slot");
            echoes(slot, 1000);
            equal("ok", ask("sink"), "the host counts");
            byte[] block = new byte[4096];
            for (int i = 0; i < block.length; i++) block[i] = streamByte(i);
            int sent = SerPutData(slot, block, block.length), waiting = SerTxBufCount(slot);
            long live = millis(() -> equal(0, SerClosePort(slot), "close"));
            System.out.println("usb: SerClosePort with " + waiting + " of " + sent + " bytes queued on a live line took " + live + " ms");
            isTrue(waiting > 0 && live < 1000, waiting + " bytes queued; the close took " + live + " ms");
            equal("count " + sent + " 0", ask("count"), "the far end got every byte sent, in order");
        });

        group("twenty times transfer, unplug, receive, close, plug: -1 soon, nothing kept", () -> {
            long[] residentKib = new long[20], returned = new long[20], plugged = new long[20], closes = new long[20];
            int devices = openedDevices();
            equal("ok", ask("echo"), "the host echoes");
            for (int cycle = 0; cycle < 20; cycle++) {
                equal(0, Methods.open(USB0), "the first slot each time");
                echoes(0, 64);
                boolean oneByte = cycle % 2 == 0;
                SerSetTimeoutRx(0, 10_000);
                long asked = System.nanoTime();
                isTrue(ask("unplug").startsWith("unplugged"), "unplugged");
                // The kernel notices the unplug after the host's answer: the receive waits for it.
                int result = oneByte ? SerGetByte(0) : SerGetData(0, new byte[64], 64);
                returned[cycle] = (System.nanoTime() - asked) / 1_000_000;
                await(USB0, false, asked);
                closes[cycle] = millis(() -> equal(List.of(-1, 0), List.of(result, SerClosePort(0)),
                        (oneByte ? "SerGetByte" : "SerGetData") + ", then close"));
                plugged[cycle] = move("plug", USB0);
                residentKib[cycle] = Long.parseLong(Files.readString(Path.of("/proc/self/statm")).split(" ")[1]) * 4;
            }
            System.out.println("usb: ms from the unplug request to the receive's -1 " + Arrays.toString(returned) + ", from the plug"
                    + " request to ttyUSB0 " + Arrays.toString(plugged) + "; closes " + Arrays.toString(closes) + "; resident KiB "
                    + Arrays.toString(residentKib));
            isTrue(Arrays.stream(returned).max().getAsLong() < 1000, "a receive returned more than a second after the unplug");
            isTrue(Arrays.stream(closes).max().getAsLong() < 1000, "a close took a second or more");
            equal(devices, openedDevices(), "descriptors open on devices");
            // The JIT and the collector move the JVM's resident size by about a megabyte on a loaded host;
            // a leak of the library's would grow it every cycle.
            isTrue(residentKib[19] - residentKib[4] <= 2048, "grew by " + (residentKib[19] - residentKib[4]) + " KiB from cycle 5 on");
        });
        Check.finish();
    }
}
