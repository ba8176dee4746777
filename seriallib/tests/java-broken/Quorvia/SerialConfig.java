package Quorvia;

/** A SerialConfig that breaks its contract: a port number, but no getBaseName and no line getters. */
public class SerialConfig {
    public static SerialConfig byNumber(String baseName, int port) {
        return new SerialConfig();
    }

    public byte[] getPortName() { return new byte[0]; }
    public int getPort() { return 2; }
    public void setPortNum(int port) {}
}
