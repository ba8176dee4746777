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
