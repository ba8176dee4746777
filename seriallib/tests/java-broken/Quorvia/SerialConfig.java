package Quorvia;

/** A SerialConfig that breaks its contract: a port number, but no getBaseName, no line getters and no setPortNum. */
public class SerialConfig {
    private final byte[] portName;

    private SerialConfig(byte[] portName) { this.portName = portName; }
    public static SerialConfig byNumber(String baseName, int port) { return new SerialConfig(new byte[0]); }
    public static SerialConfig byName(String path) { return new SerialConfig(path.getBytes()); }

    public byte[] getPortName() { return portName; }
    public int getPort() { return 2; }
}
