package testkit;

import static Quorvia.SerialPortLocal.*;
import static testkit.Check.*;
import Quorvia.*;
import java.util.*;
import java.util.function.*;

/** Every per-port method on a port whose line has gone (a pty's far end closed, a USB adapter pulled out). */
public final class Gone {
    /** What the methods below return on such a port, in their order: each its failure result. */
    public static final String RESULTS = "-1 -1 -1 -1 -1 5003 -1 -1 -1 0 0 -1 -1 -1 0 0 0 0";
    static final byte[] NINE = new byte[9];
    static final Map<String, IntUnaryOperator> CALLS = new LinkedHashMap<>();
    static {
        CALLS.put("SerGetByte", slot -> SerGetByte(slot));
        CALLS.put("SerGetData", slot -> SerGetData(slot, NINE, 9));
        CALLS.put("SerGetData, timeout -1", slot -> {
            SerSetTimeoutRx(slot, -1);
            int got = SerGetData(slot, NINE, 9);
            SerSetTimeoutRx(slot, 10_000);
            return got;
        });
        CALLS.put("SerPutByte", slot -> SerPutByte(slot, (byte) 1));
        CALLS.put("SerPutData", slot -> SerPutData(slot, NINE, 9));
        CALLS.put("SerConfigure", slot -> SerConfigure(SerialConfig.byNumber("", slot + 1)));
        CALLS.put("SerRxFlush", slot -> SerRxFlush(slot));
        CALLS.put("SerTxFlush", slot -> SerTxFlush(slot));
        CALLS.put("SerTxDrain", slot -> SerTxDrain(slot));
        CALLS.put("SerRxReadyCount", slot -> SerRxReadyCount(slot));
        CALLS.put("SerTxBufCount", slot -> SerTxBufCount(slot));
        CALLS.put("SerSetDTR", slot -> SerSetDTR(slot, true));
        CALLS.put("SerSetRTS", slot -> SerSetRTS(slot, false));
        CALLS.put("SerSendBreak", slot -> SerSendBreak(slot, 250));
        CALLS.put("SerSigCTS", slot -> SerSigCTS(slot));
        CALLS.put("SerSigDSR", slot -> SerSigDSR(slot));
        CALLS.put("SerSigCD", slot -> SerSigCD(slot));
        CALLS.put("SerSigRing", slot -> SerSigRing(slot));
    }

    /** Each method twice, with a receive timeout of 10 s: the results, the same both times, each pair under a second. */
    public static void check(String line, int slot) {
        SerSetTimeoutRx(slot, 10_000);
        var results = new StringJoiner(" ");
        long slowest = 0;
        for (IntUnaryOperator call : CALLS.values()) {
            long start = System.nanoTime();
            int first = call.applyAsInt(slot), second = call.applyAsInt(slot);
            slowest = Math.max(slowest, System.nanoTime() - start);
            results.add(first == second ? Integer.toString(first) : first + "/" + second);
        }
        System.out.println(line + ", results: " + results + "; the slowest took " + slowest / 1000 + " us");
        equal(RESULTS, results.toString(), "after " + line + ": " + String.join(", ", CALLS.keySet()));
        isTrue(slowest < 1_000_000_000L, "a call took " + slowest / 1_000_000 + " ms");
    }
}
