package Quorvia;

import java.nio.charset.*;
import java.util.*;

/** Plain settings that note the getters called and ports reported, and throw from the getter named `throwing`. */
public class SerialConfig {
    public final List<String> calls = new ArrayList<>();
    public final List<Integer> reported = new ArrayList<>();
    public String throwing;
    private byte[] portName = new byte[0], baseName = new byte[0];
    // Port 1 at 9600 bit/s, 8N1, no handshake, as codes.
    private int port = 1, bitRate = 7, parity = 0, dataBits = 3, stopBits = 0, handshake = 0;

    public static SerialConfig byName(String path) {
        SerialConfig config = new SerialConfig();
        config.portName = path == null ? null : path.getBytes(StandardCharsets.UTF_8);
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

    public SerialConfig throwing(String getter) { throwing = getter; return this; }
    public void setPortNameBytes(byte[] bytes) { portName = bytes; }
    public byte[] getPortName() { return got("getPortName", portName); }
    public byte[] getBaseName() { return got("getBaseName", baseName); }
    public int getPort() { return got("getPort", port); }
    public void setPortNum(int port) { reported.add(this.port = got("setPortNum", port)); }
    public int getBitRate() { return got("getBitRate", bitRate); }
    public int getParity() { return got("getParity", parity); }
    public int getDataBits() { return got("getDataBits", dataBits); }
    public int getStopBits() { return got("getStopBits", stopBits); }
    public int getHandshake() { return got("getHandshake", handshake); }

    private <T> T got(String getter, T value) {
        calls.add(getter);
        if (getter.equals(throwing)) throw new IllegalStateException("no " + getter);
        return value;
    }
}
