import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;

/** Sends one line to a serial device and prints the answer that comes back within 2 s. */
public class SerialExample {
    // SerialConfig codes: bit-rate index 11 is 115200 bit/s, data-bits index 3 is 8 data bits,
    // stop-bits index 0 is 1 stop bit, parity 0 is none, handshake 2 is RTS/CTS.
    static final int B115200 = 11, DATA_8 = 3, STOP_1 = 0, NO_PARITY = 0, RTS_CTS = 2;

    public static void main(String[] args) throws IOException, InterruptedException {
        String device = args.length > 0 ? args[0] : "/dev/ttyS0";

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
            result = SerialPortLocal.SerConfigure(config);
            if (result != 0) throw new IOException("cannot configure " + device + ": code " + result);

            // One call may take fewer bytes than asked: send the rest until all are gone. -1 is
            // usually a full output queue (the far end holds us off with RTS/CTS): wait until
            // the queue has gone out and send again. When that wait fails too, the port is
            // gone (hung up, unplugged or closed) and sending is over for good.
            byte[] line = "PING\r\n".getBytes(StandardCharsets.US_ASCII);
            int sent = 0;
            while (sent < line.length) {
                byte[] rest = Arrays.copyOfRange(line, sent, line.length);
                int n = SerialPortLocal.SerPutData(slot, rest, rest.length);
                if (n >= 0) {
                    sent += n;
                } else if (SerialPortLocal.SerTxDrain(slot) != 0) {
                    throw new IOException("send failed: " + device + " is gone");
                } else {
                    Thread.sleep(10);  // some drivers (ptys, USB adapters) report drained at once
                }
            }
            SerialPortLocal.SerTxDrain(slot);

            // Each receive call waits at most the slot's receive timeout for its first byte.
            SerialPortLocal.SerSetTimeoutRx(slot, 2000);
            byte[] answer = new byte[256];
            int got = SerialPortLocal.SerGetData(slot, answer, answer.length);
            if (got > 0) {
                System.out.println("answer: " + new String(answer, 0, got, StandardCharsets.US_ASCII).trim());
            } else if (got == 0) {
                System.out.println("no answer within 2 s");
            } else {
                throw new IOException("receive failed: " + device + " hung up or failed");
            }
        } finally {
            SerialPortLocal.SerClosePort(slot);
        }
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
