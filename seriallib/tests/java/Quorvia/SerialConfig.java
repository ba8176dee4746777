package Quorvia;

import java.nio.charset.StandardCharsets;

/** A port's settings as the serial library reads them: plain fields behind the nine methods. */
public class SerialConfig {
    private byte[] portName = new byte[0], baseName = new byte[0];
    // Port 1 at 9600 bit/s, 8N1, no handshake, as codes.
    private int port = 1, bitRate = 7, parity = 0, dataBits = 3, stopBits = 0, handshake = 0;

    /** A port opened by its device path. */
    public static SerialConfig byName(String path) {
        SerialConfig config = new SerialConfig();
        config.portName = path.getBytes(StandardCharsets.UTF_8);
        return config;
    }

    /** A port opened by number: the base name followed by the slot (port - 1). */
    public static SerialConfig byNumber(String baseName, int port) {
        SerialConfig config = new SerialConfig();
        config.baseName = baseName == null ? null : baseName.getBytes(StandardCharsets.UTF_8);
        config.port = port;
        return config;
    }

    public SerialConfig line(int bitRate, int dataBits, int stopBits, int parity, int handshake) {
        this.bitRate = bitRate;
        this.dataBits = dataBits;
        this.stopBits = stopBits;
        this.parity = parity;
        this.handshake = handshake;
        return this;
    }

    public void setPortNameBytes(byte[] bytes) { portName = bytes; }
    public void setBaseNameBytes(byte[] bytes) { baseName = bytes; }
    public byte[] getPortName() { return portName; }
    public byte[] getBaseName() { return baseName; }
    public int getPort() { return port; }
    public void setPortNum(int port) { this.port = port; }
    public int getBitRate() { return bitRate; }
    public int getParity() { return parity; }
    public int getDataBits() { return dataBits; }
    public int getStopBits() { return stopBits; }
    public int getHandshake() { return handshake; }
}
