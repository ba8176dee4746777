package uart;

import static Quorvia.SerialPortLocal.*;
import static testkit.Check.*;
import Quorvia.*;
import java.nio.charset.StandardCharsets;
import java.nio.file.*;
import java.util.*;
import java.util.concurrent.*;
import testkit.*;

/**
 * A USB serial adapter pulled out and put back: QEMU's FT232 under the guest's ftdi_sio driver. The host side
 * (usb_far_end.py) plugs and unplugs it on request lines sent over ttyS3, and is its far end: an echo, or a sink
 * that counts and checks a pattern.
 */
public class UsbTest {
    static final String USB0 = "/dev/ttyUSB0", USB1 = "/dev/ttyUSB1";
    static final int[] RATES = {110, 150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
    static final int[] SPEEDS = {3, 5, 7, 8, 9, 11, 12, 13, 14, 15, 0x1001, 0x1002, 0x1003};  // termios on i386
    static final int CSIZE = 0x30, CSTOPB = 0x40, PARENB = 0x100, PARODD = 0x200, CMSPAR = 0x40000000;
    static int host;

    /** One request to the host side, and its answer. */
    static String ask(String request) {
        byte[] line = (request + "\n").getBytes(StandardCharsets.US_ASCII), one = new byte[1];
        equal(line.length, Pty.write(host, line, 0, line.length), "request " + request);
        var answer = new StringBuilder();
        while (true) {
            isTrue(Pty.read(host, one, 0, 1, 20_000) == 1, "no answer to " + request);
            if (one[0] == '\n') return answer.toString();
            answer.append((char) one[0]);
        }
    }

    /** Waits for the kernel to make or remove the node; the milliseconds it took. */
    static long await(String path, boolean present) throws Exception {
        long start = System.nanoTime();
        try (WatchService watch = FileSystems.getDefault().newWatchService()) {
            Path node = Path.of(path);
            node.getParent().register(watch, StandardWatchEventKinds.ENTRY_CREATE, StandardWatchEventKinds.ENTRY_DELETE);
            while (Files.exists(node) != present) {
                WatchKey key = watch.poll(20, TimeUnit.SECONDS);
                isTrue(key != null, path + (present ? " never came" : " never went"));
                key.pollEvents();
                key.reset();
            }
        }
        return (System.nanoTime() - start) / 1_000_000;
    }

    /** Plugs the adapter in; the milliseconds from the request to its node. */
    static long plug(String path) throws Exception {
        long start = System.nanoTime();
        isTrue(ask("plug").startsWith("plugged"), "plugged");
        await(path, true);
        return (System.nanoTime() - start) / 1_000_000;
    }

    static void unplug() {
        isTrue(ask("unplug").startsWith("unplugged"), "unplugged");
    }

    static int open(String path) throws Exception {
        SerialConfig config = SerialConfig.byName(path);
        equal(0, SerOpenPort(config), "open " + path);
        return config.getPort() - 1;
    }

    /** Random bytes out through the adapter and back from the host's echo. */
    static void echoes(int slot, int count) {
        byte[] sent = new byte[count], got = new byte[count], part = new byte[count];
        new Random(count).nextBytes(sent);
        equal(count, SerPutData(slot, sent, count), "sent");
        SerSetTimeoutRx(slot, 5000);
        for (int n = 0, r; n < count; n += r) {
            isTrue((r = SerGetData(slot, part, count - n)) > 0, "echoed " + n + " of " + count);
            System.arraycopy(part, 0, got, n, r);
        }
        isTrue(Arrays.equals(sent, got), "the echo is what was sent");
    }

    static long residentKib() throws Exception {
        return Long.parseLong(Files.readString(Path.of("/proc/self/statm")).split(" ")[1]) * 4;
    }

    static int descriptors() throws Exception {
        try (var entries = Files.list(Path.of("/proc/self/fd"))) {
            return (int) entries.count();
        }
    }

    public static void main(String[] args) throws Exception {
        host = Pty.openDevice("/dev/ttyS3");
        equal("ok", ask("echo"), "the host side");
        await(USB0, true);

        group("bit rates: the driver's read-back decides 0 or 5003; which rate the chip makes", () -> {
            int slot = open(USB0), lines = Pty.openDevice(USB0);
            var made = new StringJoiner(", ");
            for (int i = 0; i < RATES.length; i++) {
                int result = SerConfigure(SerialConfig.byNumber("", slot + 1).line(i, 3, 0, 0, 0));
                int speed = Pty.termios(lines)[Pty.OSPEED];
                equal(speed == SPEEDS[i] ? 0 : 5003, result, RATES[i] + " bit/s, the driver reads back " + speed);
                made.add(RATES[i] + (result == 0 ? "" : " refused") + ": " + ask("chip").split(" ")[1]);
            }
            System.out.println("usb: bit/s asked, and what the chip was set to: " + made);
            var formats = new StringJoiner(", ");
            for (int parity = 0; parity < 5; parity++) {
                for (int dataBits = 0; dataBits < 4; dataBits++) {
                    equal(0, SerConfigure(SerialConfig.byNumber("", slot + 1).line(11, dataBits, dataBits % 2, parity, 0)),
                            "parity " + parity + ", data bits index " + dataBits);
                    int cflag = Pty.termios(lines)[Pty.CFLAG];
                    formats.add("" + (5 + dataBits) + "NOEMS".charAt(parity) + (1 + dataBits % 2) + " kept as " + (5 + (cflag & CSIZE) / 16)
                            + ((cflag & PARENB) == 0 ? "N" : (cflag & CMSPAR) != 0 ? ((cflag & PARODD) != 0 ? "M" : "S")
                                    : (cflag & PARODD) != 0 ? "O" : "E")
                            + ((cflag & CSTOPB) != 0 ? 2 : 1) + ", chip " + ask("chip").split(" ")[2]);
                }
            }
            System.out.println("usb: formats asked, what the driver keeps, and what the chip was set to: " + formats);
            equal(0, SerSetDTR(slot, false) + SerSetRTS(slot, true), "DTR down, RTS up");
            String afterDtr = ask("chip");
            equal(0, SerSetRTS(slot, false) + SerSetDTR(slot, true), "RTS down, DTR up");
            equal(List.of("0 1", "1 0"), List.of(afterDtr.substring(afterDtr.length() - 3), ask("chip").substring(afterDtr.length() - 3)),
                    "DTR and RTS as the chip was told");
            equal("1110", "" + SerSigCTS(slot) + SerSigDSR(slot) + SerSigCD(slot) + SerSigRing(slot), "CTS DSR CD RI, fixed");
            Pty.close(lines);
            equal(0, SerClosePort(slot), "close");
        });

        group("an unplug ends a waiting receive with -1; the adapter is ttyUSB1 while the dead port is open", () -> {
            for (String method : new String[] {"SerGetData", "SerGetByte"}) {
                int slot = open(USB0);
                SerSetTimeoutRx(slot, 10_000);
                var receive = Pty.startBlocked(() -> new long[] {method.equals("SerGetByte") ? SerGetByte(slot)
                        : SerGetData(slot, new byte[64], 64), System.nanoTime()}, Pty.POLL_CALLS);
                long asked = System.nanoTime();
                String unplugged = ask("unplug");
                long[] returned = receive.result().get(15, TimeUnit.SECONDS);
                long ms = (returned[1] - asked) / 1_000_000;
                System.out.println("usb: " + method + " returned " + returned[0] + " " + ms + " ms after the unplug was asked; host: "
                        + unplugged + " ms to DEVICE_DELETED; ttyUSB0 gone after " + (await(USB0, false) + ms) + " ms");
                equal(-1, (int) returned[0], method);
                isTrue(ms < 1000, method + " returned after " + ms + " ms");
                if (method.equals("SerGetData")) {
                    System.out.println("usb: plugged in again as ttyUSB1 after " + plug(USB1) + " ms");
                    isTrue(!Files.exists(Path.of(USB0)), "no ttyUSB0 while the dead port is open");
                    equal(0, SerClosePort(slot), "close");
                    unplug();
                    await(USB1, false);
                } else {
                    equal(0, SerClosePort(slot), "close");
                }
                System.out.println("usb: plugged in again as ttyUSB0 after " + plug(USB0) + " ms");
            }
        });

        group("an unplug under a stream of sends: each count was sent in order, then every call fails at once", () -> {
            int slot = open(USB0);
            equal(0, SerConfigure(SerialConfig.byNumber("", slot + 1).line(11, 3, 0, 0, 2)), "115200 8N1, RTS/CTS");
            equal("ok", ask("sink"), "the host counts");
            byte[] pattern = new byte[251 + 256], chunk = new byte[256];
            for (int i = 0; i < pattern.length; i++) pattern[i] = (byte) (i % 251);
            var started = new CountDownLatch(1);
            var gone = new CountDownLatch(1);
            Future<long[]> stream = ForkJoinPool.commonPool().submit(() -> {
                long accepted = 0;
                for (int failed = 0; failed < 100; ) {
                    boolean after = gone.getCount() == 0;
                    System.arraycopy(pattern, (int) (accepted % 251), chunk, 0, 256);
                    int n = SerPutData(slot, chunk, 256);
                    isTrue(n >= -1 && n <= 256 && !(after && n != -1), "a send gave " + n + (after ? " after the unplug" : ""));
                    accepted += Math.max(n, 0);
                    if (accepted > 16384) started.countDown();
                    if (after) failed++;
                }
                return new long[] {accepted};
            });
            isTrue(started.await(20, TimeUnit.SECONDS), "16 KiB sent");
            int queued = SerTxBufCount(slot);
            unplug();
            await(USB0, false);
            gone.countDown();
            long accepted = stream.get(20, TimeUnit.SECONDS)[0];
            String[] count = ask("count").split(" ");
            System.out.println("usb: " + accepted + " bytes taken, " + count[1] + " reached the far end, " + queued
                    + " queued when the unplug was asked");
            // The driver goes on taking bytes, and dropping them, until the kernel notices the unplug.
            equal("0", count[2], "bytes out of the pattern's order");
            isTrue(accepted >= Long.parseLong(count[1]), "more bytes reached the far end than were taken");
            Gone.check("usb: unplugged", slot);
            long closing = millis(() -> equal(0, SerClosePort(slot), "close"));
            System.out.println("usb: SerClosePort after the unplug took " + closing + " ms");
            isTrue(closing < 1000, "the close took " + closing + " ms");
            raises(java.io.IOException.class, () -> SerGetTimeoutRx(slot));
            equal("ok", ask("echo"), "the host echoes");
            plug(USB0);
            equal(slot, open(USB0), "the same name opens into the same slot");
            echoes(slot, 1000);
            equal(0, SerClosePort(slot), "close");
        });

        group("twenty times plug, transfer, unplug: no descriptor, slot or memory kept", () -> {
            long[] resident = new long[21];
            int files = descriptors(), devices = openedDevices();
            for (int cycle = 0; cycle < 20; cycle++) {
                int slot = open(USB0);
                equal(0, slot, "the first slot each time");
                echoes(slot, 64);
                unplug();
                equal(-1, SerGetByte(slot), "receive after the unplug");
                equal(0, SerClosePort(slot), "close");
                plug(USB0);
                resident[cycle] = residentKib();
            }
            System.out.println("usb: resident KiB after each cycle: " + Arrays.toString(Arrays.copyOf(resident, 20)));
            equal(List.of(files, devices), List.of(descriptors(), openedDevices()), "descriptors, of them devices");
            isTrue(resident[19] - resident[4] <= 512, "grew by " + (resident[19] - resident[4]) + " KiB from cycle 5 to 20");
        });
        Pty.close(host);
        Check.finish();
    }
}
