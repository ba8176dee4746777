import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;

/**
 * Sends one line to a serial device and prints the answer that comes back within 2 s. When the
 * device goes away meanwhile (a USB adapter pulled out), it closes the port, waits for the
 * device to come back, and tries again.
 */
public class SerialExample {
    // SerialConfig codes: bit-rate index 11 is 115200 bit/s, data-bits index 3 is 8 data bits,
    // stop-bits index 0 is 1 stop bit, parity 0 is none, handshake 2 is RTS/CTS.
    static final int B115200 = 11, DATA_8 = 3, STOP_1 = 0, NO_PARITY = 0, RTS_CTS = 2;

    public static void main(String[] args) throws IOException, InterruptedException {
        String device = args.length > 0 ? args[0] : "/dev/ttyS0";
        for (int attempt = 1; ; attempt++) {
            // Open by name: the library picks the lowest free slot and reports it back through
            // setPortNum, so getPort() names the port from here on. SerialPortLocal declares
            // SerOpenPort "throws IOException", so the bad-name exception can be caught by type.
            SerialConfig config = SerialConfig.byName(device)
                    .line(B115200, DATA_8, STOP_1, NO_PARITY, RTS_CTS);
            int result;
            try {
                result = SerialPortLocal.SerOpenPort(config);
            } catch (IOException badName) {
                System.out.println("not a device name: " + device + " (" + badName.getMessage() + ")");
                return;
            }
            if (result >= 5001 && result <= 5004) {
                // The device was opened, but its line could not be set up: it stays open in the
                // lowest slot that was free, which setPortNum was not told. This program opens no
                // other port, so that is the lowest taken slot; free it.
                SerialPortLocal.SerClosePort(lowestTakenSlot());
            }
            if (result != 0) throw new IOException("cannot open " + device + ": code " + result);
            int slot = config.getPort() - 1;
            try {
                if (exchange(device, config, slot)) return;
            } finally {
                // Also a port that has gone keeps its slot, and its device name, until closed: a
                // USB adapter plugged in again meanwhile gets another name (ttyUSB1 for ttyUSB0).
                SerialPortLocal.SerClosePort(slot);
            }
            if (attempt == 3) throw new IOException(device + " is gone");
            System.out.println(device + " is gone: waiting for it to come back");
            // Its node comes back when the adapter is plugged in again, with the library's
            // initial line setting: the open above sets it up again.
            for (int tenths = 0; tenths < 600 && !Files.exists(Path.of(device)); tenths++) Thread.sleep(100);
        }
    }

    /** One line out and its answer printed; false when the port has gone (nothing but a close and a new open helps). */
    static boolean exchange(String device, SerialConfig config, int slot) throws IOException, InterruptedException {
        int result = SerialPortLocal.SerConfigure(config);
        if (result != 0) throw new IOException("cannot configure " + device + ": code " + result);

        // One call may take fewer bytes than asked: send the rest until all are gone. -1 is
        // usually a full output queue (the far end holds us off with RTS/CTS): wait until the
        // queue has gone out and send again. When that wait fails too, the port is gone (hung
        // up, unplugged or closed) and sending on it is over for good.
        byte[] line = "PING\r\n".getBytes(StandardCharsets.US_ASCII);
        int sent = 0;
        while (sent < line.length) {
            byte[] rest = Arrays.copyOfRange(line, sent, line.length);
            int n = SerialPortLocal.SerPutData(slot, rest, rest.length);
            if (n >= 0) {
                sent += n;
            } else if (SerialPortLocal.SerTxDrain(slot) != 0) {
                return false;
            } else {
                Thread.sleep(10);  // some drivers (ptys, USB adapters) report drained at once
            }
        }
        SerialPortLocal.SerTxDrain(slot);

        // Each receive call waits at most the slot's receive timeout for its first byte: 0 is
        // "nothing came", -1 a line that has gone (or another thread closed the slot).
        SerialPortLocal.SerSetTimeoutRx(slot, 2000);
        byte[] answer = new byte[256];
        int got = SerialPortLocal.SerGetData(slot, answer, answer.length);
        if (got < 0) return false;
        if (got == 0) {
            System.out.println("no answer within 2 s");
        } else {
            System.out.println("answer: " + new String(answer, 0, got, StandardCharsets.US_ASCII).trim());
        }
        return true;
    }

    /** The lowest taken slot, or -1: the timeout getter throws "Port not open" for a free one. */
    static int lowestTakenSlot() {
        for (int slot = 0; slot < 128; slot++) {
            try {
                SerialPortLocal.SerGetTimeoutRx(slot);
                return slot;
            } catch (IOException free) {
                // free: look further
            }
        }
        return -1;
    }
}
