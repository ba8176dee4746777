package testkit;

import static Quorvia.SerialPortLocal.*;
import static testkit.Check.*;
import Quorvia.*;
import java.util.*;
import java.util.function.*;
import java.util.stream.*;

/** The per-port methods, each with its result on a slot that holds no port. */
public final class Methods {
    public record Row(String method, int notOpen, IntUnaryOperator call) {}

    static final byte[] FOUR = new byte[4];
    public static final Row[] ROWS = {
        new Row("SerClosePort", -1, slot -> SerClosePort(slot)),
        new Row("SerPutByte", -1, slot -> SerPutByte(slot, (byte) 1)),
        new Row("SerPutData", -1, slot -> SerPutData(slot, FOUR, 4)),
        new Row("SerGetByte", -1, slot -> SerGetByte(slot)),
        new Row("SerGetData", -1, slot -> SerGetData(slot, FOUR, 4)),
        new Row("SerConfigure", 5003, slot -> SerConfigure(SerialConfig.byNumber("", slot + 1))),
        new Row("SerRxFlush", -1, slot -> SerRxFlush(slot)),
        new Row("SerTxFlush", -1, slot -> SerTxFlush(slot)),
        new Row("SerTxDrain", 0, slot -> SerTxDrain(slot)),
        new Row("SerRxReadyCount", 0, slot -> SerRxReadyCount(slot)),
        new Row("SerTxBufCount", 0, slot -> SerTxBufCount(slot)),
        new Row("SerSetDTR", -1, slot -> SerSetDTR(slot, true)),
        new Row("SerSetRTS", -1, slot -> SerSetRTS(slot, false)),
        new Row("SerSendBreak", -1, slot -> SerSendBreak(slot, 250)),
        new Row("SerSigCTS", 0, slot -> SerSigCTS(slot)),
        new Row("SerSigDSR", 0, slot -> SerSigDSR(slot)),
        new Row("SerSigCD", 0, slot -> SerSigCD(slot)),
        new Row("SerSigRing", 0, slot -> SerSigRing(slot)),
    };

    /** Opens the device by name; its slot. */
    public static int open(String path) throws java.io.IOException {
        SerialConfig config = SerialConfig.byName(path);
        equal(0, SerOpenPort(config), "open " + path);
        return config.getPort() - 1;
    }

    /** Exactly `count` bytes from the slot, each receive waiting up to 5 s. */
    public static String receive(int slot, int count) {
        byte[] got = new byte[count], part = new byte[count];
        SerSetTimeoutRx(slot, 5000);
        for (int n = 0, r; n < count; n += r) {
            isTrue((r = SerGetData(slot, part, count - n)) > 0, "received " + n + " of " + count);
            System.arraycopy(part, 0, got, n, r);
        }
        return Arrays.toString(got);
    }

    /** A port whose line has gone (a hang-up, an unplug): a receive without waiting, then each method but the close twice, as on a free slot, at once. */
    public static void afterLineGone(String line, int slot) {
        SerSetTimeoutRx(slot, -1);
        var got = new ArrayList<Integer>(List.of(SerGetData(slot, FOUR, 4)));
        SerSetTimeoutRx(slot, 10_000);
        long start = System.nanoTime();
        for (Row row : ROWS) if (row != ROWS[0]) got.addAll(List.of(row.call().applyAsInt(slot), row.call().applyAsInt(slot)));
        long micros = (System.nanoTime() - start) / 1000;
        System.out.println(line + ": " + got + " in " + micros + " us");
        // A drain fails on a line that has gone, where a free slot has nothing to drain.
        equal(Arrays.stream(ROWS).skip(1).map(row -> row.method().equals("SerTxDrain") ? -1 : row.notOpen())
                .flatMap(result -> Stream.of(result, result)).toList(), got.subList(1, got.size()), line);
        isTrue(got.get(0) == -1 && micros < 1_000_000, line + ": a receive without waiting gave " + got.get(0) + "; the calls took " + micros + " us");
    }
}
