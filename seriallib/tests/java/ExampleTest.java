import static testkit.Check.*;
import java.nio.charset.*;
import java.util.concurrent.*;
import testkit.*;

/** The example of docs/serial-library.md, run as a user runs it, against a pty that answers. */
public class ExampleTest {
    public static void main(String[] args) throws Exception {
        group("the example sends at 115200 8N1 with RTS/CTS and prints the answer", () -> {
            try (Pty pty = new Pty()) {
                Future<Check.Result> example = ForkJoinPool.commonPool().submit(
                        () -> Check.jvm(java.util.Map.of(), System.getProperty("java.class.path"), "SerialExample", pty.slavePath));
                // A second JVM starts first: slow in the emulated i386 guest on a busy host.
                equal("PING\r\n", new String(pty.readExactly(6, 60000), StandardCharsets.US_ASCII), "what the example sent");
                // The example now waits for the answer with the line as it configured it.
                Pty.expectLine(pty.master, Pty.line(11, 3, 0, 0, 2), Pty.PTY_REWRITES, "115200 8N1, RTS/CTS");
                equal(6, Pty.write(pty.master, "PONG\r\n".getBytes(StandardCharsets.US_ASCII), 0, 6), "far end write");
                Check.Result result = example.get(60, TimeUnit.SECONDS);
                equal(0, result.exitCode(), "exit status");
                isTrue(result.stdout().contains("answer: PONG\n"), "the answer printed");
            }
        });
        Check.finish();
    }
}
