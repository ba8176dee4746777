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

    public static void main(String[] args) throws IOException {
        String device = args.length > 0 ? args[0] : "/dev/ttyS0";

        // Open by name: the library picks the lowest free slot and reports it back through
        // setPortNum, so getPort() names the port from here on. An over-long name throws.
        SerialConfig config = SerialConfig.byName(device)
                .line(B115200, DATA_8, STOP_1, NO_PARITY, RTS_CTS);
        int result = SerialPortLocal.SerOpenPort(config);
        if (result != 0) throw new IOException("cannot open " + device + ": code " + result);
        int slot = config.getPort() - 1;
        try {
            result = SerialPortLocal.SerConfigure(config);
            if (result != 0) throw new IOException("cannot configure " + device + ": code " + result);

            // One call may take fewer bytes than asked: send the rest until all are gone.
            byte[] line = "PING\r\n".getBytes(StandardCharsets.US_ASCII);
            int sent = 0;
            while (sent < line.length) {
                byte[] rest = Arrays.copyOfRange(line, sent, line.length);
                int n = SerialPortLocal.SerPutData(slot, rest, rest.length);
                if (n < 0) throw new IOException("send failed");
                sent += n;
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
                throw new IOException("receive failed");
            }
        } finally {
            SerialPortLocal.SerClosePort(slot);
        }
    }
}
