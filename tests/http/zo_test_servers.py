#!/usr/bin/env python3
"""Loopback servers for the HTTP client's tests and benchmark.

Started by a test, they listen on 127.0.0.1 on ephemeral ports, print one JSON
line with the ports, and serve until their standard input closes (so they end
with the test that started them, however it ends).

  http       the origin server (paths below)
  https      the same behind TLS, with a certificate for localhost and 127.0.0.1
             issued by a test CA made by openssl at start; "ca" in the JSON line
             names the CA's PEM file (removed when the servers end), which the
             clients trust in addition to the system's roots
  https_expired, https_wrongname, https_selfsigned
             the same origin behind certificates a client must refuse: issued
             by the test CA but expired (2020), issued by it for another name
             (wrong.example), and self-signed for localhost
  proxy      a forward proxy: absolute-URL GETs and CONNECT tunnels
  authproxy  the same, demanding Basic credentials user:pass (407 otherwise)
  backlog    a listening socket whose backlog is full: connecting hangs

Origin paths:
  /echo                 the request head exactly as received
  /fixed/N              N bytes with Content-Length (byte i is i % 251)
  /chunked/N/C          the same bytes in chunks of C
  /close/N              the same bytes with neither length nor chunks, then close
  /empty, /204, /404    an empty body, No Content, Not Found (with a body)
  /conn                 the number of the connection that carried the request
  /connclose            like /conn, answered with "Connection: close"
  /dropnext             like /conn, but the next request on the connection gets no answer
  /http10               like /conn, as an HTTP/1.0 server that closes
  /redirect/K           K redirects (absolute Locations), each setting cookie rK=K; the last
                        answer's body is the Cookie header it was asked with
  /relredirect/K        the same with relative Locations
  /goto?URL             a redirect to URL
  /loop                 redirects to itself for ever
  /cookies              the Cookie header of the request as the body
  /setcookie            sets a=1 and b=2 (path /), answers 200
  /continue             a 100 Continue before the answer
  /hostile/NAME         broken answers, see HOSTILE below
  /files/NAME[?slow=MS&extra=N&drip=MS]
                        the file NAME of the folder $ZO_TEST_FILES with Content-Length;
                        slow: a pause of MS milliseconds after every 16 KiB; extra: N
                        bytes more than announced; drip: after the first 16 KiB one
                        byte every MS milliseconds
  /drip/N/MS            N bytes with Content-Length, one every MS milliseconds
  /visit...             an empty answer; the request target is remembered
  /visits               the remembered /visit targets, one a line
  /__proxy/...          404: only the proxy answers these

Proxy paths (answered by the proxy itself, for http URLs of any port):
  /__proxy/echo, /__proxy/last-connect   the request head, the last CONNECT head
  /__proxy/files/NAME   like /files/NAME: a file that only the proxy serves
"""
import base64
import json
import os
import select
import shutil
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time

MAX_HEAD = 65536


def pattern(n):
    block = bytes(i % 251 for i in range(251 * 64))
    out = bytearray()
    while len(out) < n:
        out += block
    return bytes(out[:n])


BIG_BLOCK = pattern(251 * 4096)  # about 1 MB, whole periods of 251


def send_pattern(wfile, n):
    """Streams n pattern bytes without building them in memory."""
    left = n
    while left > 0:
        piece = BIG_BLOCK if left >= len(BIG_BLOCK) else BIG_BLOCK[:left]
        wfile.write(piece)
        left -= len(piece)


class Head:
    def __init__(self, raw):
        self.raw = raw
        lines = raw.split(b"\r\n")
        parts = lines[0].split(b" ")
        self.method = parts[0].decode("latin-1")
        self.target = parts[1].decode("latin-1") if len(parts) > 1 else ""
        self.headers = {}
        for line in lines[1:]:
            if b":" in line:
                k, v = line.split(b":", 1)
                self.headers[k.strip().lower().decode("latin-1")] = v.strip().decode("latin-1")


def read_head(rfile):
    """Reads one request head up to and including the empty line; None at EOF."""
    raw = b""
    while not raw.endswith(b"\r\n\r\n"):
        line = rfile.readline(MAX_HEAD)
        if not line:
            return None
        raw += line
        if len(raw) > MAX_HEAD:
            return None
    return Head(raw)


def response(status, body=b"", headers=(), length=True):
    out = b"HTTP/1.1 " + status.encode() + b"\r\n"
    for h in headers:
        out += h.encode("latin-1") + b"\r\n"
    if length:
        out += b"Content-Length: " + str(len(body)).encode() + b"\r\n"
    return out + b"\r\n" + body


class Counter:
    def __init__(self):
        self.lock = threading.Lock()
        self.n = 0

    def next(self):
        with self.lock:
            self.n += 1
            return self.n


CONNECTIONS = Counter()
VISITS = []
VISITS_LOCK = threading.Lock()


def send_file(wfile, name, query):
    """Serves a file of $ZO_TEST_FILES (404 when absent), optionally slowly."""
    folder = os.environ.get("ZO_TEST_FILES", "")
    path = os.path.join(folder, os.path.basename(name))
    if not folder or not name or not os.path.isfile(path):
        wfile.write(response("404 Not Found", b"no such file"))
        return
    slow, extra, drip = 0, 0, 0
    for item in query.split("&"):
        if item.startswith("slow="):
            slow = int(item[5:]) / 1000.0
        elif item.startswith("extra="):
            extra = int(item[6:])
        elif item.startswith("drip="):
            drip = int(item[5:]) / 1000.0
    with open(path, "rb") as f:
        data = f.read()
    wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(data))
    if extra:
        data += pattern(extra)
    if drip:
        wfile.write(data[:16384])
        wfile.flush()
        for i in range(16384, len(data)):
            wfile.write(data[i:i + 1])
            wfile.flush()
            time.sleep(drip)
        return
    for i in range(0, len(data), 16384):
        wfile.write(data[i:i + 16384])
        if slow:
            wfile.flush()
            time.sleep(slow)


def hostile(name, w):
    """Writes a broken answer; returns False (the connection then closes)."""
    if name == "garbage-status":
        w.write(b"XYZZY garbage\r\n\r\n")
    elif name == "binary":
        w.write(bytes(range(1, 200)) * 3)
    elif name == "neg-length":
        w.write(b"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nhello")
    elif name == "huge-length":
        w.write(b"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nhello")
    elif name == "big-length":
        w.write(b"HTTP/1.1 200 OK\r\nContent-Length: 1000000000000000\r\n\r\nhello")
    elif name == "bad-chunk":
        w.write(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nzz\r\nxx\r\n0\r\n\r\n")
    elif name == "chunk-overflow":
        w.write(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFF\r\nhello\r\n")
    elif name == "long-body":  # more bytes than announced, in one piece
        w.write(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + pattern(150))
        return True
    elif name == "short-body":
        w.write(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + pattern(500))
    elif name == "short-chunk":
        w.write(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100\r\n" + pattern(50))
    elif name == "endless-headers":
        w.write(b"HTTP/1.1 200 OK\r\n")
        try:
            for i in range(100000):
                w.write(b"X-Filler-%d: %s\r\n" % (i, b"a" * 100))
                w.flush()
        except OSError:
            pass
    elif name == "long-line":
        w.write(b"HTTP/1.1 200 OK\r\nX-Long: ")
        try:
            for _ in range(10000):
                w.write(b"b" * 1000)
                w.flush()
        except OSError:
            pass
    elif name == "endless-continue":
        try:
            for _ in range(10000):
                w.write(b"HTTP/1.1 100 Continue\r\n\r\n")
                w.flush()
        except OSError:
            pass
    elif name == "stall":  # a body that stops arriving without the connection closing
        w.write(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + pattern(10))
        w.flush()
        time.sleep(8)
    elif name == "stall404":
        w.write(b"HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\n\r\n" + pattern(10))
        w.flush()
        time.sleep(8)
    elif name == "stall302":
        w.write(b"HTTP/1.1 302 Found\r\nLocation: /fixed/10\r\nContent-Length: 100\r\n\r\n" + pattern(10))
        w.flush()
        time.sleep(8)
    elif name == "no-location":
        w.write(response("302 Found", b"nowhere"))
        return True
    elif name == "304":
        w.write(b"HTTP/1.1 304 Not Modified\r\nLocation: /fixed/10\r\n\r\n")
        return True
    else:
        w.write(response("400 Bad Request"))
    return False


class OriginHandler(socketserver.StreamRequestHandler):
    tls_context = None  # set for the TLS server
    disable_nagle_algorithm = True

    def setup(self):
        self.broken = False
        if self.tls_context is not None:
            try:
                self.request = self.tls_context.wrap_socket(self.request, server_side=True)
            except (OSError, ssl.SSLError):
                self.broken = True
        super().setup()

    def handle(self):
        if self.broken:
            return
        conn = CONNECTIONS.next()
        self.drop_next = False
        try:
            while True:
                head = read_head(self.rfile)
                if head is None or self.drop_next:
                    return
                keep = self.serve(head, conn)
                self.wfile.flush()
                if head.headers.get("connection", "").lower() == "close":
                    return
                if not keep:
                    return
        except (OSError, ssl.SSLError):
            return

    def serve(self, head, conn):
        w = self.wfile
        path = head.target.split("?", 1)[0]
        parts = [p for p in path.split("/") if p]
        scheme = "https" if self.tls_context is not None else "http"
        here = "%s://127.0.0.1:%d" % (scheme, self.server.server_address[1])
        if path == "/echo":
            w.write(response("200 OK", head.raw))
        elif parts[:1] == ["fixed"] and len(parts) == 2:
            n = int(parts[1])
            w.write(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % n)
            send_pattern(w, n)
        elif parts[:1] == ["chunked"] and len(parts) == 3:
            body, size = pattern(int(parts[1])), int(parts[2])
            w.write(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
            for i in range(0, len(body), size):
                piece = body[i:i + size]
                w.write(b"%x;ext=1\r\n%s\r\n" % (len(piece), piece))
            w.write(b"0\r\nX-Trailer: yes\r\n\r\n")
        elif parts[:1] == ["drip"] and len(parts) == 3:
            n, pause = int(parts[1]), int(parts[2]) / 1000.0
            w.write(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % n)
            w.flush()
            for b in pattern(n):
                w.write(bytes([b]))
                w.flush()
                time.sleep(pause)
        elif parts[:1] == ["close"] and len(parts) == 2:
            w.write(b"HTTP/1.1 200 OK\r\n\r\n")
            send_pattern(w, int(parts[1]))
            return False
        elif path == "/empty":
            w.write(response("200 OK"))
        elif path == "/204":
            w.write(b"HTTP/1.1 204 No Content\r\n\r\n")
        elif path == "/404":
            w.write(response("404 Not Found", b"<html>missing</html>"))
        elif path == "/conn":
            w.write(response("200 OK", str(conn).encode()))
        elif path == "/dropnext":
            w.write(response("200 OK", str(conn).encode()))
            self.drop_next = True
        elif path == "/connclose":
            w.write(response("200 OK", str(conn).encode(), ["Connection: close"]))
            return False
        elif path == "/http10":
            w.write(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n%d" % (len(str(conn)), conn))
            return False
        elif parts[:1] in (["redirect"], ["relredirect"]) and len(parts) == 2:
            k = int(parts[1])
            if k == 0:
                w.write(response("200 OK", head.headers.get("cookie", "").encode("latin-1")))
            else:
                if parts[0] == "redirect":
                    location = "%s/redirect/%d" % (here, k - 1)
                else:
                    location = str(k - 1)  # relative to /relredirect/
                w.write(response("302 Found", b"moved",
                                 ["Location: " + location, "Set-Cookie: r%d=%d; Path=/" % (k, k)]))
        elif path == "/goto":
            w.write(response("302 Found", b"", ["Location: " + head.target.split("?", 1)[1]]))
        elif path == "/loop":
            w.write(response("302 Found", b"again", ["Location: /loop"]))
        elif path == "/cookies":
            w.write(response("200 OK", head.headers.get("cookie", "").encode("latin-1")))
        elif path == "/setcookie":
            w.write(response("200 OK", b"set", ["Set-Cookie: a=1; Path=/", "Set-Cookie2: b=2; Version=1; Path=/"]))
        elif path == "/continue":
            w.write(b"HTTP/1.1 100 Continue\r\n\r\n")
            w.write(response("200 OK", b"after continue"))
        elif parts[:1] == ["hostile"] and len(parts) == 2:
            return hostile(parts[1], w)
        elif parts[:1] == ["files"] and len(parts) == 2:
            send_file(w, parts[1], head.target.partition("?")[2])
        elif path == "/visits":
            with VISITS_LOCK:
                w.write(response("200 OK", "".join(v + "\n" for v in VISITS).encode("latin-1")))
        elif path.startswith("/visit"):
            with VISITS_LOCK:
                VISITS.append(head.target)
            w.write(response("200 OK"))
        elif parts[:1] == ["__proxy"]:
            w.write(response("404 Not Found", b"only the proxy answers this"))
        else:
            w.write(response("400 Bad Request", b"unknown path"))
        return True


class ProxyHandler(socketserver.StreamRequestHandler):
    disable_nagle_algorithm = True

    def handle(self):
        try:
            while True:
                head = read_head(self.rfile)
                if head is None:
                    return
                if not self.serve(head):
                    return
                self.wfile.flush()
        except OSError:
            return

    def authorised(self, head):
        need = self.server.credentials
        if need is None:
            return True
        expected = "Basic " + base64.b64encode(need.encode()).decode()
        if head.headers.get("proxy-authorization") == expected:
            return True
        self.wfile.write(response("407 Proxy Authentication Required", b"credentials needed",
                                  ['Proxy-Authenticate: Basic realm="zo"']))
        self.wfile.flush()
        return False

    def serve(self, head):
        if head.method == "CONNECT":
            self.server.last_connect = head.raw
            if not self.authorised(head):
                return False
            host, _, port = head.target.rpartition(":")
            if host not in ("127.0.0.1", "localhost"):
                self.wfile.write(response("403 Forbidden"))
                return False
            upstream = socket.create_connection((host, int(port)))
            self.wfile.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
            self.wfile.flush()
            self.tunnel(upstream)
            return False
        if not self.authorised(head):
            return True
        target = head.target
        if target.startswith("http://") and "/__proxy/" in target:
            what = target.split("/__proxy/", 1)[1]
            if what.startswith("files/"):
                name, _, query = what[len("files/"):].partition("?")
                send_file(self.wfile, name, query)
                return True
            body = head.raw if what == "echo" else self.server.last_connect
            self.wfile.write(response("200 OK", body))
            return True
        if not target.startswith("http://"):
            self.wfile.write(response("400 Bad Request", b"absolute URL expected"))
            return False
        rest = target[len("http://"):]
        hostport, _, path = rest.partition("/")
        host, _, port = hostport.partition(":")
        if host not in ("127.0.0.1", "localhost"):
            self.wfile.write(response("403 Forbidden"))
            return False
        upstream = socket.create_connection((host, int(port or 80)))
        lines = head.raw.split(b"\r\n")
        out = b"GET /" + path.encode("latin-1") + b" HTTP/1.1\r\n"
        for line in lines[1:]:
            name = line.split(b":", 1)[0].lower()
            if line and name not in (b"connection", b"proxy-connection", b"proxy-authorization"):
                out += line + b"\r\n"
        upstream.sendall(out + b"Connection: close\r\n\r\n")
        # The answer is relayed as it comes; the connection ends with it.
        while True:
            data = upstream.recv(65536)
            if not data:
                break
            self.wfile.write(data)
        upstream.close()
        return False

    def tunnel(self, upstream):
        client = self.request
        socks = [client, upstream]
        try:
            while True:
                readable, _, _ = select.select(socks, [], [], 30)
                if not readable:
                    return
                for s in readable:
                    data = s.recv(65536)
                    if not data:
                        return
                    (upstream if s is client else client).sendall(data)
        finally:
            upstream.close()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def handle_error(self, request, client_address):
        pass  # hostile and aborted exchanges are the point of these servers


def openssl(*args, cwd=None):
    subprocess.run(["openssl"] + list(args), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   cwd=cwd)


CA_CONFIG = """[ca]
default_ca = test
[test]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = supplied
"""


def make_certificates(folder):
    """A test CA and the servers' certificates: {"good", "expired", "wrongname",
    "selfsigned"} -> (cert, key), and the CA's PEM file."""
    ca_cert, ca_key = os.path.join(folder, "ca.pem"), os.path.join(folder, "ca.key")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca_cert, "-days", "3",
            "-subj", "/CN=zosetup test CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    with open(os.path.join(folder, "ca.cnf"), "w") as f:
        f.write(CA_CONFIG)
    open(os.path.join(folder, "index.txt"), "w").close()
    with open(os.path.join(folder, "serial"), "w") as f:
        f.write("1000\n")

    def issue(name, host, dates):
        key, csr, cert = (os.path.join(folder, name + ext) for ext in (".key", ".csr", ".pem"))
        ext = os.path.join(folder, name + ".ext")
        with open(ext, "w") as f:
            alt = "DNS:%s" % host + (",IP:127.0.0.1" if host == "localhost" else "")
            f.write("subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n"
                    "keyUsage=critical,digitalSignature,keyEncipherment\n" % alt)
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=" + host)
        openssl("ca", "-batch", "-config", "ca.cnf", "-cert", ca_cert, "-keyfile", ca_key, "-in", csr, "-out", cert,
                "-extfile", ext, "-notext", *dates, cwd=folder)
        return cert, key

    certs = {"good": issue("good", "localhost", ["-days", "2"]),
             "expired": issue("expired", "localhost", ["-startdate", "20200101000000Z", "-enddate", "20200102000000Z"]),
             "wrongname": issue("wrongname", "wrong.example", ["-days", "2"])}
    self_cert, self_key = os.path.join(folder, "self.pem"), os.path.join(folder, "self.key")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", self_key, "-out", self_cert, "-days", "2",
            "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1")
    certs["selfsigned"] = (self_cert, self_key)
    return certs, ca_cert


def start(server):
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def tls_origin(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)

    class TlsHandler(OriginHandler):
        tls_context = context

    return start(Server(("127.0.0.1", 0), TlsHandler))


def main():
    folder = tempfile.mkdtemp(prefix="zo-http-")
    try:
        serve(folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def serve(folder):
    certs, ca = make_certificates(folder)
    ports = {"http": start(Server(("127.0.0.1", 0), OriginHandler)),
             "https": tls_origin(*certs["good"])}
    for name in ("expired", "wrongname", "selfsigned"):
        ports["https_" + name] = tls_origin(*certs[name])
    for name, credentials in (("proxy", None), ("authproxy", "user:pass")):
        proxy = Server(("127.0.0.1", 0), ProxyHandler)
        proxy.credentials = credentials
        proxy.last_connect = b""
        ports[name] = start(proxy)

    # A listener that never accepts, with its one queue place taken.
    backlog = socket.socket()
    backlog.bind(("127.0.0.1", 0))
    backlog.listen(0)
    filler = socket.create_connection(backlog.getsockname())
    ports["backlog"] = backlog.getsockname()[1]

    ports["ca"] = ca
    print(json.dumps(ports), flush=True)
    try:
        while sys.stdin.read(1):
            pass
    except KeyboardInterrupt:
        pass
    filler.close()
    backlog.close()


if __name__ == "__main__":
    main()
