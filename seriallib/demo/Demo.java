import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.nio.charset.StandardCharsets;
import testkit.Pty;

/**
 * The library at work in a real JVM: open a pseudo-terminal by name, set the line, send a few
 * bytes to the far end, receive its answer within the receive timeout, close.
 */
public class Demo {
    public static void main(String[] args) throws java.io.IOException {
        System.out.printf("JVM: %s %s (%s-bit)%n", System.getProperty("java.vm.name"),
                System.getProperty("java.version"), System.getProperty("sun.arch.data.model"));
        int version = SerialPortLocal.SerGetLibVer();
        System.out.printf("libPellusk version %d.%d%n", version >> 16, version & 0xFFFF);
        try (Pty pty = new Pty()) {
            SerialConfig config = SerialConfig.byName(pty.slavePath);
            int result = SerialPortLocal.SerOpenPort(config);
            int slot = config.getPort() - 1;
            System.out.printf("SerOpenPort(%s) = %d, port %d (slot %d)%n", pty.slavePath, result,
                    config.getPort(), slot);
            config.line(11, 3, 0, 0, 2);  // 115200 bit/s, 8N1, RTS/CTS
            System.out.printf("SerConfigure(115200 8N1 RTS/CTS) = %d%n", SerialPortLocal.SerConfigure(config));

            byte[] hello = "hello".getBytes(StandardCharsets.US_ASCII);
            System.out.printf("SerPutData(\"hello\") = %d%n", SerialPortLocal.SerPutData(slot, hello, hello.length));
            byte[] far = new byte[16];
            int got = Pty.read(pty.master, far, 0, far.length, 1000);
            System.out.printf("far end received \"%s\" and answers \"olleh\"%n",
                    new String(far, 0, Math.max(got, 0), StandardCharsets.US_ASCII));
            byte[] answer = "olleh".getBytes(StandardCharsets.US_ASCII);
            Pty.write(pty.master, answer, 0, answer.length);

            SerialPortLocal.SerSetTimeoutRx(slot, 1000);
            byte[] received = new byte[16];
            int n = SerialPortLocal.SerGetData(slot, received, received.length);
            System.out.printf("SerGetData(timeout 1000 ms) = %d: \"%s\"%n", n,
                    new String(received, 0, Math.max(n, 0), StandardCharsets.US_ASCII));
            System.out.printf("SerClosePort(%d) = %d%n", slot, SerialPortLocal.SerClosePort(slot));
        }
        System.out.flush();
    }
}
