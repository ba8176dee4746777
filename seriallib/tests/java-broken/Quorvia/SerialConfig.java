package Quorvia;

/** A SerialConfig that breaks its contract: no getPort and no getBaseName. */
public class SerialConfig {
    public static SerialConfig byNumber(String baseName, int port) {
        return new SerialConfig();
    }

    public byte[] getPortName() { return new byte[0]; }
    public void setPortNum(int port) {}
}
