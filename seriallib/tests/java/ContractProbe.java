import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;

/** Run in a fresh JVM whose SerialConfig lacks getPort and getBaseName. */
public class ContractProbe {
    public static void main(String[] args) throws java.io.IOException {
        try {
            int result = SerialPortLocal.SerOpenPort(SerialConfig.byNumber("/dev/ttyS", 1));
            System.out.println("returned " + result + " without an error");
            System.exit(1);
        } catch (NoSuchMethodError expected) {
            System.out.println("NoSuchMethodError: " + expected.getMessage());
        }
        System.exit(0);
    }
}
