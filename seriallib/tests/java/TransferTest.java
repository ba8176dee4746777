import static Quorvia.SerialPortLocal.*;
import static testkit.Check.*;
import Quorvia.*;
import java.io.*;
import java.lang.reflect.*;
import java.nio.file.*;
import java.util.*;
import java.util.concurrent.*;
import java.util.regex.*;
import java.util.stream.*;
import testkit.*;

/** Transfers, queues and timeouts on a pty; a receive whose far end hangs up; the call trace. */
public class TransferTest {
    static void farEndWrites(Pty pty, byte... data) {
        equal(data.length, Pty.write(pty.master, data, 0, data.length), "far end write");
    }

    /** A port name with a blank, a backslash and a byte above 0x7E, each of which the trace escapes. */
    static final byte[] ODD_NAME = "/nonexistent/a b\\c\u00e9".getBytes(java.nio.charset.StandardCharsets.ISO_8859_1);

    /** The traced process: a known sequence between two clock readings, then every native method on four threads at once. */
    static void traced() throws Exception {
        long before = System.nanoTime();
        equal(262151, SerGetLibVer(), "the first call");
        try (Pty pty = new Pty()) {
            byte[] data = new byte[20];
            for (int i = 0; i < 20; i++) data[i] = (byte) (i * 17);
            equal(0, Methods.open(pty.slavePath), "open");
            int child = Pty.spawn(Pty.CHILD);  // neither the port nor the trace goes to it
            List<String> held = Check.descriptors(child);
            Pty.endChild(child);
            isTrue(!held.contains(pty.slavePath) && !held.contains(System.getenv("PELLUSK_TRACE")), "the child holds " + held);
            equal(List.of(0, 20), List.of(SerConfigure(SerialConfig.byNumber("", 1).line(11, 3, 0, 0, 0)), SerPutData(0, data, 20)),
                    "configure, send");
            isTrue(Arrays.equals(data, pty.readExactly(20, 5000)), "the far end got it");
            farEndWrites(pty, (byte) ' ', (byte) '\\', (byte) 0xE9, (byte) 0xFF, (byte) 0);
            SerialConfig odd = new SerialConfig(), noPort = SerialConfig.byNumber("", 1).throwing("getPort");
            odd.setPortNameBytes(ODD_NAME);
            equal(List.of(1, 4, 0, 0, 2000, 1, -1, 0, 1008, -1, 5000), List.of(SerSetTimeoutRx(0, 2000), SerGetData(0, new byte[64], 4),
                    SerGetByte(0), SerPutByte(0, (byte) 0x41), SerGetTimeoutRx(0), SerSetTimeoutRx(0, 100), SerGetByte(0),
                    SerGetData(0, new byte[4], 4), SerOpenPort(odd), SerPutByte(5, (byte) 0x41), SerSetPowerMode(3, 2)), "receives, a send, a timeout, failures");
            raises(IllegalStateException.class, () -> SerOpenPort(noPort));
            raises(IllegalStateException.class, () -> SerOpenPort(SerialConfig.byName(pty.slavePath).throwing("setPortNum")));
            for (Body thrower : new Body[] {() -> SerOpenPort(SerialConfig.byName(null)), () -> SerOpenPort(SerialConfig.byNumber(null, 2)),
                    () -> SerGetPowerMode(9), () -> SerGetTimeoutTx(5)}) raises(IOException.class, thrower);
            equal(0, SerClosePort(0), "close");
        }
        System.out.println("clock: " + before / 1000 + " " + System.nanoTime() / 1000);
        Object[] arguments = {5, (byte) 0x41, false, new byte[8], SerialConfig.byName("/nonexistent/tty")};
        Class<?>[] types = {int.class, byte.class, boolean.class, byte[].class, SerialConfig.class};
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < 4; t++) threads.add(new Thread(() -> {
            for (int round = 0; round < 10; round++) {
                for (Method m : SerialPortLocal.class.getDeclaredMethods()) {
                    Object[] values = Arrays.stream(m.getParameterTypes()).map(p -> arguments[Arrays.asList(types).indexOf(p)]).toArray();
                    try {
                        if (Modifier.isNative(m.getModifiers())) m.invoke(null, values);
                    } catch (ReflectiveOperationException e) {
                        if (!(e.getCause() instanceof IOException)) throw new AssertionError(m.getName(), e);
                    }
                }
            }
        }));
        for (Thread t : threads) t.start();
        for (Thread t : threads) t.join();
    }

    /** A trace field's text with each \xNN turned back into its byte, as an ISO-8859-1 char. */
    static String unescape(String text) {
        return Pattern.compile("\\\\x(\\p{XDigit}{2})").matcher(text).replaceAll(e -> Matcher.quoteReplacement("" + (char) Integer.parseInt(e.group(1), 16)));
    }

    public static void main(String[] args) throws Exception {
        if (args.length > 0) {
            traced();
            System.exit(0);
        }
        try (Pty pty = new Pty()) {
            final int slot = Methods.open(pty.slavePath);
            group("every byte value each way, one at a time and in one call; a receive fills only what arrived", () -> {
                byte[] all = new byte[256], into = new byte[100_000];
                for (int i = 0; i < 256; i++) equal(0, SerPutByte(slot, all[i] = (byte) i), "SerPutByte " + i);
                equal(256, SerPutData(slot, all, 256), "SerPutData");
                isTrue(Arrays.equals(all, pty.readExactly(256, 5000)) && Arrays.equals(all, pty.readExactly(256, 5000)), "0..255 twice");
                SerSetTimeoutRx(slot, 5000);
                farEndWrites(pty, all);
                for (int i = 0; i < 256; i++) equal(i, SerGetByte(slot), "SerGetByte " + i);
                farEndWrites(pty, (byte) 1, (byte) 2, (byte) 0xFF);
                Arrays.fill(into, (byte) 0x77);
                equal(3, SerGetData(slot, into, 10), "bytes read");
                isTrue(Arrays.equals(into, 0, 3, new byte[] {1, 2, -1}, 0, 3) && IntStream.range(3, into.length).allMatch(i -> into[i] == 0x77),
                        "the three bytes and nothing else changed");
            });

            group("queues: ready count, flushes, unsent count and drain; a break, which a pty has not, either side", () -> {
                farEndWrites(pty, (byte) 1, (byte) 2, (byte) 3, (byte) 4, (byte) 5);
                SerSetTimeoutRx(slot, 5000);
                equal(1, SerGetByte(slot), "first byte, after which the rest is there");
                equal(List.of(4, 0, 0, 0, 0, 0), List.of(SerRxReadyCount(slot), SerTxBufCount(slot), SerRxFlush(slot),
                        SerRxReadyCount(slot), SerTxFlush(slot), SerTxDrain(slot)),
                        "ready, unsent (a pty sends at once), flush, ready, flush, drain");
                isTrue(millis(() -> equal(0, SerSendBreak(slot, 0), "break")) < 200, "a pty has no break to wait for");
                int master = Methods.open("/dev/ptmx");
                isTrue(millis(() -> equal(0, SerSendBreak(master, 4), "break")) < 200, "nor has its master side");
                equal(0, SerClosePort(master), "close the master");
            });

            group("receive timeouts are waited out, a free slot's once it is taken; a descriptor above 1024 serves", () -> {
                SerSetTimeoutRx(slot, 300);
                long waited = millis(() -> equal(List.of(-1, 0), List.of(SerGetByte(slot), SerGetData(slot, new byte[8], 8)), "nothing"));
                isTrue(waited >= 590 && waited < 2600, "two waits of 300 ms took " + waited);
                equal(List.of(0, 1), List.of(SerClosePort(slot), SerSetTimeoutRx(slot, 250)), "close, set rx on the free slot");
                List<FileInputStream> filler = new ArrayList<>();
                for (int i = 0; i < 1100; i++) filler.add(new FileInputStream("/dev/null"));
                equal(slot, Methods.open(pty.slavePath), "reopen");
                isTrue(millis(() -> equal(-1, SerGetByte(slot), "SerGetByte")) >= 245, "the stored timeout applies");
                farEndWrites(pty, (byte) 0x5A);
                equal(List.of(0, 0x3C, 0x5A), List.of(SerPutByte(slot, (byte) 0x3C), (int) pty.readExactly(1, 5000)[0], SerGetByte(slot)),
                        "a byte each way");
                for (FileInputStream f : filler) f.close();
            });

            equal(0, SerClosePort(slot), "close");
        }

        group("far end hung up: a waiting receive fails at once, and so does every call that can tell", () -> {
            Pty far = new Pty();
            int slot = Methods.open(far.slavePath);
            equal(1, SerSetTimeoutRx(slot, 20_000), "receive timeout");
            var receive = Pty.startBlocked(() -> SerGetData(slot, new byte[64], 64), Pty.POLL_CALLS);
            equal(0, Pty.close(far.master), "hang-up");
            equal(-1, (int) receive.result().get(10, TimeUnit.SECONDS), "the waiting SerGetData");
            Methods.afterLineGone("pty: hung up", slot);
            equal(0, SerClosePort(slot), "close");
        });

        group("PELLUSK_TRACE: one whole line per call, each field as documented, in call order on each thread, timed by the "
                + "monotonic clock; a target that would block (standard error a pipe nobody reads, too) is dropped; untraceable, the same "
                + "results", () -> {
            Path dir = Files.createTempDirectory("pellusk-trace"), file = dir.resolve("trace");
            String fifo = dir + "/nobody-reads", stalled = dir + "/read-by-none";
            int reader = Pty.fifo(stalled, true);
            equal(0, Pty.fifo(fifo, false), "a FIFO without a reader");
            long[] clock = null;
            for (String target : new String[] {file.toString(), "/dev/full", fifo, stalled, "stderr"}) {
                Check.Result run = Check.jvm(Map.of("PELLUSK_TRACE", target), System.getProperty("java.class.path"), "TransferTest", "traced");
                equal(0, run.exitCode(), "the traced process (-1: blocked), to " + target);
                if (clock == null) clock = Arrays.stream(run.stdout().replaceAll("(?s).*clock: (\\d+ \\d+).*", "$1").split(" ")).mapToLong(Long::parseLong).toArray();
            }
            Pty.close(reader);
            // The time, the thread, the call as made, its duration; a text's \xNN give back the bytes Java passed.
            Pattern form = Pattern.compile("(\\d+)\\.(\\d{6}) tid=(\\d+) (Ser\\w+(?: \\w+=\\S*)*?) us=(\\d+)((?: \\w+=\\S+)*)");
            Map<String, Long> lastTime = new HashMap<>();
            List<String> first = new ArrayList<>();  // the first thread's calls, without time, thread and duration
            Set<String> methods = new TreeSet<>();
            String firstThread = null;
            for (String line : Files.readAllLines(file, java.nio.charset.StandardCharsets.ISO_8859_1)) {
                Matcher m = form.matcher(line);
                isTrue(m.matches(), "the line's form: " + line);
                long time = Long.parseLong(m.group(1)) * 1_000_000 + Long.parseLong(m.group(2)), us = Long.parseLong(m.group(5));
                isTrue(time >= lastTime.getOrDefault(m.group(3), 0L), "monotonic on its thread: " + line);
                lastTime.put(m.group(3), time);
                methods.add(m.group(4).split(" ")[0]);
                if (firstThread == null) firstThread = m.group(3);
                if (!firstThread.equals(m.group(3))) continue;
                isTrue(time >= clock[0] && time + us <= clock[1] + 2, "within the clock readings " + Arrays.toString(clock) + ": " + line);
                first.add(unescape(m.group(4) + m.group(6)));
                if (m.group(4).startsWith("SerGetByte slot=0 timeout=100")) isTrue(us >= 99_000, "the timeout's wait: " + line);
            }
            equal(Arrays.stream(SerialPortLocal.class.getDeclaredMethods()).filter(m -> Modifier.isNative(m.getModifiers()))
                    .map(Method::getName).collect(Collectors.toCollection(TreeSet::new)), methods, "every native method traced");
            String[] expected = {"SerGetLibVer result=262151", "SerOpenPort getPortName=/dev/pts/\\d+ setPortNum=1 result=0",
                "SerConfigure getPort=1 getBitRate=11 getParity=0 getDataBits=3 getStopBits=0 getHandshake=0 result=0",
                "SerPutData slot=0 count=20 result=20 data=00112233445566778899aabbccddeeff", "SerSetTimeoutRx slot=0 ms=2000 result=1",
                "SerGetData slot=0 count=4 timeout=2000 result=4 data=205ce9ff", "SerGetByte slot=0 timeout=2000 result=0 data=00",
                "SerPutByte slot=0 result=0 data=41", "SerGetTimeoutRx slot=0 result=2000", "SerSetTimeoutRx slot=0 ms=100 result=1",
                "SerGetByte slot=0 timeout=100 result=-1( errno=EAGAIN)?", "SerGetData slot=0 count=4 timeout=100 result=0",
                Pattern.quote("SerOpenPort getPortName=" + new String(ODD_NAME, java.nio.charset.StandardCharsets.ISO_8859_1)) + " result=1008 errno=ENOENT",
                "SerPutByte slot=5 result=-1 errno=EBADF", "SerSetPowerMode cardSlot=3 mode=2 result=5000",
                "SerOpenPort getPortName= result=5000( errno=\\w+)? exception=thrown",
                "SerOpenPort getPortName=/dev/pts/\\d+ result=5000( errno=\\w+)? exception=thrown", "SerOpenPort result=5001( errno=\\w+)? exception=thrown",
                "SerOpenPort getPortName= getPort=2 result=5001( errno=\\w+)? exception=thrown", "SerGetPowerMode cardSlot=9 result=5001 exception=thrown",
                "SerGetTimeoutTx slot=5 result=\\d+ exception=thrown", "SerClosePort slot=0 result=0"};
            equal(expected.length, first.size(), "calls of the first thread");
            for (int i = 0; i < expected.length; i++) isTrue(first.get(i).matches(expected[i]), "line " + i + ": " + first.get(i));
            Files.delete(file);
        });
        Check.finish();
    }
}
