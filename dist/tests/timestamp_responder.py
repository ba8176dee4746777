#!/usr/bin/env python3
"""timestamp_responder.py <folder> <seconds>: an RFC 3161 time-stamp server on 127.0.0.1 for the signing
tests. It makes a throw-away time-stamping certificate in <folder> (tsa.pem, which its time stamps verify
against), answers every POST with `openssl ts -reply`, prints its URL once it listens, and ends when its
standard input closes or after <seconds>, whichever comes first."""
import http.server
import subprocess
import sys
import threading

folder, seconds = sys.argv[1], float(sys.argv[2])
subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-noenc", "-keyout", "tsa.key", "-out", "tsa.pem",
                "-days", "2", "-subj", "/CN=Velmoor test time-stamping authority",
                "-addext", "extendedKeyUsage=critical,timeStamping"], cwd=folder, check=True, capture_output=True)
open(f"{folder}/tsa.serial", "w").write("01\n")
with open(f"{folder}/ts.cnf", "w") as config:
    config.write("[tsa]\ndefault_tsa = authority\n[authority]\nserial = tsa.serial\nsigner_digest = sha256\n"
                 "default_policy = 1.3.6.1.4.1.55555.1\ndigests = sha256, sha384, sha512\ness_cert_id_alg = sha256\n")
lock = threading.Lock()


class Responder(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with lock:  # one serial number file
            reply = subprocess.run(["openssl", "ts", "-reply", "-config", "ts.cnf", "-queryfile", "/dev/stdin",
                                    "-inkey", "tsa.key", "-signer", "tsa.pem"], input=query, cwd=folder,
                                   capture_output=True)
        if reply.returncode != 0:
            self.send_error(500, reply.stderr.decode(errors="replace")[-200:])
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply.stdout)))
        self.end_headers()
        self.wfile.write(reply.stdout)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Responder)
threading.Thread(target=server.serve_forever, daemon=True).start()
print(f"http://127.0.0.1:{server.server_address[1]}/", flush=True)
# Standard input closing is the test's word that it is done; the time limit outlives a test that died.
closed = threading.Event()
threading.Thread(target=lambda: (sys.stdin.read(), closed.set()), daemon=True).start()
closed.wait(seconds)
server.shutdown()
