import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;

import java.nio.charset.StandardCharsets;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import testkit.Check;
import testkit.Pty;

/** The example of docs/serial-library.md, run as a user runs it, against a pty that answers. */
public class ExampleTest {
    // termios values as Linux defines them on both i386 and x86_64.
    static final int CSIZE = 0x30, CS8 = 0x30, CSTOPB = 0x40, PARENB = 0x100,
            CRTSCTS = 0x80000000, B115200 = 0x1002;

    public static void main(String[] args) throws Exception {
        group("the example sends at 115200 8N1 with RTS/CTS and prints the answer", () -> {
            try (Pty pty = new Pty()) {
                CompletableFuture<Check.Result> example = CompletableFuture.supplyAsync(() -> {
                    try {
                        return Check.jvm(System.getProperty("java.class.path"), "SerialExample",
                                pty.slavePath);
                    } catch (Exception e) {
                        throw new IllegalStateException(e);
                    }
                });
                equal("PING\r\n", new String(pty.readExactly(6, 10000), StandardCharsets.US_ASCII),
                        "what the example sent");

                // The example now waits for the answer with the line as it configured it.
                int[] t = Pty.termios(pty.slavePath);
                equal(B115200, t[Pty.ISPEED], "input speed");
                equal(B115200, t[Pty.OSPEED], "output speed");
                equal(CS8, t[Pty.CFLAG] & CSIZE, "8 data bits");
                equal(0, t[Pty.CFLAG] & (CSTOPB | PARENB), "1 stop bit, no parity");
                equal(CRTSCTS, t[Pty.CFLAG] & CRTSCTS, "RTS/CTS flow control");

                byte[] answer = "PONG\r\n".getBytes(StandardCharsets.US_ASCII);
                equal(answer.length, Pty.write(pty.master, answer, 0, answer.length), "far end write");
                Check.Result result = example.get(30, TimeUnit.SECONDS);
                equal(0, result.exitCode(), "exit status; output:\n" + result.stdout());
                isTrue(result.stdout().contains("answer: PONG\n"), "printed answer:\n" + result.stdout());
            }
        });
        group("a device that is no terminal: the example frees the slot its open kept, and fails", () -> {
            Check.Result result = Check.jvm(System.getProperty("java.class.path"), "SerialExample", "/dev/null");
            equal(1, result.exitCode(), "exit status; output:\n" + result.stdout());
            isTrue(result.stdout().contains("cannot open /dev/null: code 5003"), "output:\n" + result.stdout());
        });
        Check.finish();
    }
}
