import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import testkit.Pty;

/** The library at work in a real JVM: open a pseudo-terminal by name, show the slot, close it. */
public class Demo {
    public static void main(String[] args) {
        System.out.printf("JVM: %s %s (%s-bit)%n", System.getProperty("java.vm.name"),
                System.getProperty("java.version"), System.getProperty("sun.arch.data.model"));
        int version = SerialPortLocal.SerGetLibVer();
        System.out.printf("libPellusk version %d.%d%n", version >> 16, version & 0xFFFF);
        try (Pty pty = new Pty()) {
            SerialConfig config = SerialConfig.byName(pty.slavePath);
            int result = SerialPortLocal.SerOpenPort(config);
            System.out.printf("SerOpenPort(%s) = %d, port %d (slot %d)%n", pty.slavePath, result,
                    config.getPort(), config.getPort() - 1);
            System.out.printf("SerClosePort(%d) = %d%n", config.getPort() - 1,
                    SerialPortLocal.SerClosePort(config.getPort() - 1));
        }
        System.out.flush();
    }
}
