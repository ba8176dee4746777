import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import testkit.Pty;

/** Run in a fresh JVM: a failing first open, then three good ones. Exit status 0 when all went as expected. */
public class BannerProbe {
    public static void main(String[] args) throws java.io.IOException {
        int failures = 0;
        try (Pty pty = new Pty()) {
            if (SerialPortLocal.SerOpenPort(SerialConfig.byNumber("/dev/null", 0)) != 1003) failures++;
            for (int i = 0; i < 3; i++) {
                if (SerialPortLocal.SerOpenPort(SerialConfig.byName(pty.slavePath)) != 0) failures++;
            }
            for (int i = 0; i < 3; i++) SerialPortLocal.SerClosePort(i);
        }
        System.exit(failures);
    }
}
