"""Token logins end to end: quillfnc --authorize against a scripted OAuth 2.0
provider over HTTPS with a throw-away test CA (device grant, refresh,
refused refresh, slow endpoint), then sessions through the proxy to a
scripted POP3S server that checks the XOAUTH2 and OAUTHBEARER exchanges
byte for byte.  No password ever goes upstream, a token never on a plain
connection, and no token reaches the log.  Nothing leaves the machine.
"""
import base64
import hashlib
import json
import os
import poplib
import shutil
import socket
import ssl
import stat
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from test_dovecot import Proxy, QUILLFNC
from test_tls import ScriptedServer, TestPki

USER = "alice@example.com"
MESSAGE = ("From: Bob <bob@example.org>\r\nTo: alice@example.com\r\nSubject: lunch\r\n"
           "Message-ID: <lunch.1@example.org>\r\n\r\nAt noon, then.\r\n")


def token(kind, n):
    """Tokens as providers issue them: long, and nothing like a word."""
    return "%s.%d.Zm9vYmFy-_~%s" % (kind, n, "x" * 40)


class Provider:
    """A scripted OAuth 2.0 provider: a device endpoint and a token endpoint
    over HTTPS.  It records every request's path and form."""

    def __init__(self, cert, key):
        self.requests = []
        self.pending_polls = 0     # authorization_pending answers before the grant (a second each)
        self.expires_in = 3600
        self.refuse_refresh = False
        self.delay = 0             # seconds before each answer
        self.issued = 0
        self.refresh = None        # the refresh token now valid
        self.valid = set()         # the access tokens now valid
        self.challenge = None      # a browser sign-in's PKCE challenge and redirect
        self.redirect = None
        provider = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_POST(self):
                length = int(self.headers.get("Content-Length", "0"))
                form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode()))
                provider.requests.append((self.path, form))
                time.sleep(provider.delay)
                status, body = provider.answer(self.path, form)
                data = json.dumps(body).encode()
                try:
                    self.send_response(status)
                    self.send_header("Content-Type", "application/json")
                    self.send_header("Content-Length", str(len(data)))
                    self.end_headers()
                    self.wfile.write(data)
                except OSError:
                    pass   # the client gave up waiting

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def grant(self):
        self.issued += 1
        access, self.refresh = token("AT", self.issued), token("RT", self.issued)
        self.valid.add(access)
        return 200, {"token_type": "Bearer", "access_token": access, "refresh_token": self.refresh,
                     "expires_in": self.expires_in, "scope": "pop offline_access"}

    def answer(self, path, form):
        if form.get("client_id") != "quillfence-test":
            return 401, {"error": "invalid_client"}
        if path == "/device":
            return 200, {"device_code": "DEV-CODE-1", "user_code": "WDJB-MJHT",
                         "verification_uri": "https://127.0.0.1:%d/activate" % self.port,
                         "interval": 1, "expires_in": 60}
        if path != "/token":
            return 404, {"error": "not_found"}
        grant_type = form.get("grant_type")
        if grant_type == "urn:ietf:params:oauth:grant-type:device_code" and form.get("device_code") == "DEV-CODE-1":
            if self.pending_polls > 0:
                self.pending_polls -= 1
                return 400, {"error": "authorization_pending"}
            return self.grant()
        if grant_type == "authorization_code":
            verifier = form.get("code_verifier", "").encode()
            proven = base64.urlsafe_b64encode(hashlib.sha256(verifier).digest()).rstrip(b"=").decode()
            if (form.get("code") != "AUTH-CODE-1" or form.get("redirect_uri") != self.redirect
                    or proven != self.challenge):
                return 400, {"error": "invalid_grant", "error_description": "The code or its verifier is wrong."}
            return self.grant()
        if grant_type == "refresh_token":
            if self.refuse_refresh or form.get("refresh_token") != self.refresh:
                return 400, {"error": "invalid_grant", "error_description": "The refresh token was revoked."}
            return self.grant()
        return 400, {"error": "unsupported_grant_type"}

    def grants(self, grant_type):
        return [form for path, form in self.requests if form.get("grant_type") == grant_type]

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


class TokenServer:
    """A POP3S server that takes only token logins: it lists mechanisms under
    SASL in CAPA, checks the AUTH response byte for byte against the
    provider's valid tokens, and serves one message.  It records every line
    it gets, connection after connection."""

    def __init__(self, cert, key, provider, mechanisms=b"XOAUTH2"):
        self.provider = provider
        self.mechanisms = mechanisms
        self.lines = []
        self.responses = []   # (mechanism, decoded response)
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(cert, key)
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.running = True
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def expected(self, mechanism, access):
        if mechanism == b"OAUTHBEARER":
            return ("n,a=%s,\x01host=localhost\x01port=%d\x01auth=Bearer %s\x01\x01"
                    % (USER, self.port, access)).encode()
        return ("user=%s\x01auth=Bearer %s\x01\x01" % (USER, access)).encode()

    def serve(self):
        self.listener.settimeout(1)
        while self.running:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                continue
            try:
                connection.settimeout(20)
                connection = self.context.wrap_socket(connection, server_side=True)
                self.serve_one(connection)
            except (OSError, ssl.SSLError):
                pass
            finally:
                connection.close()

    def serve_one(self, connection):
        with connection.makefile("rb") as reader:
            self.converse(connection, reader)

    def converse(self, connection, reader):
        connection.sendall(b"+OK token server ready\r\n")
        mechanism = None
        while True:
            raw = reader.readline()
            if not raw:
                return
            line = raw.rstrip(b"\r\n")
            self.lines.append(line.decode("latin-1"))
            words = line.split(b" ")
            word = words[0].upper()
            if word == b"CAPA":
                connection.sendall(b"+OK\r\nUSER\r\nUIDL\r\nTOP\r\nSASL " + self.mechanisms + b"\r\n.\r\n")
            elif word == b"AUTH" and len(words) == 2 and words[1] in self.mechanisms.split(b" "):
                mechanism = words[1]
                connection.sendall(b"+ \r\n")
                response = base64.b64decode(reader.readline().rstrip(b"\r\n"))
                self.responses.append((mechanism, response))
                if any(response == self.expected(mechanism, access) for access in self.provider.valid):
                    connection.sendall(b"+OK welcome\r\n")
                    continue
                status = json.dumps({"status": "401", "schemes": "bearer", "scope": "pop"}).encode()
                connection.sendall(b"+ " + base64.b64encode(status) + b"\r\n")
                self.responses.append((b"after the challenge", reader.readline()))
                connection.sendall(b"-ERR [AUTH] Invalid token\r\n")
            elif word == b"STAT":
                connection.sendall(b"+OK 1 %d\r\n" % len(MESSAGE))
            elif word == b"LIST":
                connection.sendall(b"+OK\r\n1 %d\r\n.\r\n" % len(MESSAGE))
            elif word == b"UIDL":
                connection.sendall(b"+OK\r\n1 lunch-1\r\n.\r\n")
            elif word in (b"RETR", b"TOP"):
                connection.sendall(b"+OK\r\n" + MESSAGE.encode() + b".\r\n")
            elif word == b"QUIT":
                connection.sendall(b"+OK bye\r\n")
                return
            else:
                connection.sendall(b"-ERR not here\r\n")

    def stop(self):
        self.running = False
        self.thread.join(10)
        self.listener.close()


class TokenLogins(unittest.TestCase):
    """Without a keyring: no session bus, the sign-ins in their files."""

    def proxy_env(self):
        return {"DBUS_SESSION_BUS_ADDRESS": ""}

    @classmethod
    def setUpClass(cls):
        # One test CA and server certificate serve every case: making them
        # takes longer than most cases.
        cls.pki_folder = tempfile.mkdtemp(prefix="qfoauth-pki.")
        cls.pki = TestPki(cls.pki_folder)
        cls.cert, cls.key = cls.pki.issue("localhost", "localhost")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.pki_folder, ignore_errors=True)

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qfoauth.")
        self.provider = Provider(self.cert, self.key)
        self.servers = []
        self.proxy = Proxy(os.path.join(self.folder, "proxy"), env=self.proxy_env(),
                           settings={"TLSCAFILE": '"%s"' % self.pki.ca, "UPSTREAMDEADLINE": 4})
        self.root = os.path.join(self.proxy.folder, "data", "Corvanta Ltd", "Quillfence Pro")
        with open(os.path.join(self.root, "oauth-providers.txt"), "w") as f:
            f.write("# the test's provider\n[scripted]\nservers = localhost\nclient_id = quillfence-test\n"
                    "device_endpoint = https://127.0.0.1:%d/device\ntoken_endpoint = https://127.0.0.1:%d/token\n"
                    "scope = pop offline_access\n" % (self.provider.port, self.provider.port))
            # A provider that signs in with a browser of this computer.
            f.write("[browser]\nclient_id = quillfence-test\n"
                    "authorization_endpoint = https://127.0.0.1:%d/authorize\n"
                    "authorization_parameters = access_type=offline&prompt=consent\n"
                    "token_endpoint = https://127.0.0.1:%d/token\nscope = pop offline_access\n"
                    % (self.provider.port, self.provider.port))

    def tearDown(self):
        try:
            self.assertEqual(self.proxy.stop(), 0)
        finally:
            for server in self.servers:
                server.stop()
            self.provider.stop()
            shutil.rmtree(self.folder, ignore_errors=True)

    def token_server(self, mechanisms=b"XOAUTH2"):
        server = TokenServer(self.cert, self.key, self.provider, mechanisms)
        self.servers.append(server)
        return server

    def account(self, server):
        return "%s@localhost:%d" % (USER, server.port)

    def authorize(self, account):
        return subprocess.run([QUILLFNC, "--authorize", account], env=self.proxy.env, capture_output=True,
                              text=True, timeout=60)

    def grant_file(self, server):
        return os.path.join(self.root, "oauth", "%s@localhost#%d.token" % (USER, server.port))

    def session(self, server):
        """A mail client's session through the proxy: the message, or the
        proxy's refusal of PASS."""
        client = poplib.POP3("127.0.0.1", self.proxy.port, timeout=30)
        try:
            self.assertEqual(client.user(self.account(server) + "$TLS$OAUTH")[:3], b"+OK")
            client.pass_("not-the-password")
            lines = client.retr(1)[1]
            client.quit()
            return b"\r\n".join(lines) + b"\r\n"
        except poplib.error_proto as refusal:
            client.close()
            return refusal.args[0].decode()

    def assert_no_secret_in_log(self):
        log = self.proxy.log()
        for n in range(1, self.provider.issued + 1):
            for secret in (token("AT", n), token("RT", n)):
                self.assertNotIn(secret, log)
                self.assertNotIn(base64.b64encode(secret.encode()).decode()[:20], log)
        for _, response in self.servers[0].responses if self.servers else []:
            self.assertNotIn(base64.b64encode(response).decode(), log)
        self.assertNotIn("not-the-password", log)

    def test_device_grant_then_xoauth2_and_oauthbearer_logins(self):
        server = self.token_server()
        self.provider.pending_polls = 2
        result = self.authorize(self.account(server))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("WDJB-MJHT", result.stdout)
        self.assertIn("https://127.0.0.1:%d/activate" % self.provider.port, result.stdout)
        self.assertEqual(len(self.provider.grants("urn:ietf:params:oauth:grant-type:device_code")), 3)
        self.assertNotIn(token("AT", 1), result.stdout + result.stderr)
        path = self.grant_file(server)
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
        self.assertEqual(stat.S_IMODE(os.stat(os.path.dirname(path)).st_mode), 0o700)
        with open(path) as f:
            self.assertIn(token("RT", 1), f.read())

        self.assertEqual(self.session(server), MESSAGE.encode())
        self.assertIn("AUTH XOAUTH2", server.lines)
        self.assertEqual(server.responses, [(b"XOAUTH2", server.expected(b"XOAUTH2", token("AT", 1)))])
        self.assertFalse([line for line in server.lines if line.upper().startswith(("USER", "PASS"))],
                         server.lines)
        # A server that offers OAUTHBEARER gets it, with its host and port.
        bearer = self.token_server(b"XOAUTH2 OAUTHBEARER")
        self.assertEqual(self.authorize(self.account(bearer)).returncode, 0)
        self.assertIsInstance(self.session(bearer), bytes)
        self.assertEqual(bearer.responses, [(b"OAUTHBEARER", bearer.expected(b"OAUTHBEARER", token("AT", 2)))])
        self.assert_no_secret_in_log()

    def kept_tokens(self, server):
        """What holds the account's tokens: here, its file."""
        with open(self.grant_file(server)) as f:
            return f.read()

    def test_an_ending_token_is_refreshed_and_the_rotated_refresh_token_kept(self):
        server = self.token_server()
        self.provider.expires_in = 60   # within the proxy's margin: refreshed before use
        self.assertEqual(self.authorize(self.account(server)).returncode, 0)
        self.provider.expires_in = 1.5e300   # a lifetime past any clock: taken as a day at most
        self.assertIsInstance(self.session(server), bytes)
        with open(self.grant_file(server)) as f:
            expires = int(next(line for line in f if line.startswith("expires=")).split("=")[1])
        self.assertLessEqual(expires, time.time() + 86400 + 5)
        self.assertGreater(expires, time.time() + 86400 - 60)
        refreshes = self.provider.grants("refresh_token")
        self.assertEqual([form["refresh_token"] for form in refreshes], [token("RT", 1)])
        self.assertEqual(server.responses, [(b"XOAUTH2", server.expected(b"XOAUTH2", token("AT", 2)))])
        self.assertIn(token("RT", 2), self.kept_tokens(server))
        self.assertEqual(stat.S_IMODE(os.stat(self.grant_file(server)).st_mode), 0o600)
        # The next session uses the kept token without asking the provider.
        self.assertIsInstance(self.session(server), bytes)
        self.assertEqual(len(self.provider.grants("refresh_token")), 1)
        self.assert_no_secret_in_log()

    def test_a_refused_refresh_says_what_to_run_and_sends_nothing_upstream(self):
        server = self.token_server()
        self.provider.expires_in = 1
        self.assertEqual(self.authorize(self.account(server)).returncode, 0)
        self.provider.refuse_refresh = True
        with open(self.grant_file(server)) as f:
            before = f.read()
        reply = self.session(server)
        self.assertIsInstance(reply, str)
        self.assertIn("-ERR", reply)
        self.assertIn("quillfnc --authorize %s" % self.account(server), reply)
        self.assertIn("revoked", reply)
        self.assertNotIn("AUTH XOAUTH2", server.lines)
        with open(self.grant_file(server)) as f:
            self.assertEqual(f.read(), before)

    def test_a_slow_token_endpoint_ends_within_the_login_deadline(self):
        server = self.token_server()
        self.provider.expires_in = 1
        self.assertEqual(self.authorize(self.account(server)).returncode, 0)
        self.provider.delay = 10
        started = time.monotonic()
        reply = self.session(server)
        self.assertLess(time.monotonic() - started, 9)
        self.assertIsInstance(reply, str)
        self.assertIn("could not be renewed, try again later", reply)
        self.provider.delay = 0
        # The kept grant was not spoilt: the next session renews it.
        self.assertIsInstance(self.session(server), bytes)

    def test_a_token_the_server_refuses_gets_its_reason_and_is_renewed_next_time(self):
        server = self.token_server()
        self.assertEqual(self.authorize(self.account(server)).returncode, 0)
        self.provider.valid.clear()   # the server no longer takes it
        reply = self.session(server)
        self.assertEqual(reply, "-ERR [AUTH] Invalid token")
        self.assertEqual(server.responses[1], (b"after the challenge", b"\r\n"))
        self.assertIsInstance(self.session(server), bytes)
        self.assertEqual(len(self.provider.grants("refresh_token")), 1)
        self.assert_no_secret_in_log()

    def browser_sign_in(self, server):
        """quillfnc --authorize with the browser provider, up to the page it
        asks the user to open: the command, and the page's query."""
        command = subprocess.Popen([QUILLFNC, "--authorize", self.account(server), "browser"], env=self.proxy.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        page = "https://127.0.0.1:%d/authorize?" % self.provider.port
        for line in command.stdout:
            if line.strip().startswith(page):
                query = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(line.strip()).query))
                self.provider.challenge, self.provider.redirect = query["code_challenge"], query["redirect_uri"]
                return command, query
        self.fail("no sign-in page printed: %s" % command.communicate()[1])

    def test_a_browser_sign_in_comes_back_to_this_computer_with_pkce(self):
        server = self.token_server()
        command, query = self.browser_sign_in(server)
        self.assertEqual((query["response_type"], query["client_id"], query["code_challenge_method"]),
                         ("code", "quillfence-test", "S256"))
        self.assertEqual((query["scope"], query["access_type"], query["prompt"]),
                         ("pop offline_access", "offline", "consent"))
        self.assertRegex(query["redirect_uri"], r"^http://127\.0\.0\.1:\d+/$")
        self.assertEqual(len(query["code_challenge"]), 43)
        # Another program on the computer, without the state, is turned away.
        with self.assertRaises(urllib.error.HTTPError) as refused:
            urllib.request.urlopen(query["redirect_uri"] + "?code=STOLEN&state=guessed", timeout=10)
        self.assertEqual(refused.exception.code, 400)
        back = urllib.parse.urlencode({"code": "AUTH-CODE-1", "state": query["state"]})
        with urllib.request.urlopen(query["redirect_uri"] + "?" + back, timeout=10) as page:
            self.assertIn(b"Quillfence Pro is signed in", page.read())
        output, errors = command.communicate(timeout=30)
        self.assertEqual(command.returncode, 0, errors)
        self.assertIn("Signed in.", output)
        exchange = self.provider.grants("authorization_code")
        self.assertEqual(len(exchange), 1)
        self.assertNotEqual(exchange[0]["code_verifier"], query["code_challenge"])
        self.assertIn(token("RT", 1), self.kept_tokens(server))
        self.assertEqual(self.session(server), MESSAGE.encode())
        self.assert_no_secret_in_log()

    def test_a_browser_sign_in_the_user_declines_keeps_nothing(self):
        server = self.token_server()
        command, query = self.browser_sign_in(server)
        back = urllib.parse.urlencode({"error": "access_denied", "error_description": "The user said no.",
                                       "state": query["state"]})
        with urllib.request.urlopen(query["redirect_uri"] + "?" + back, timeout=10) as page:
            self.assertIn(b"not completed", page.read())
        _, errors = command.communicate(timeout=30)
        self.assertEqual(command.returncode, 1)
        self.assertIn("browser refused the sign-in: access_denied: The user said no.", errors)
        self.assertEqual(self.provider.grants("authorization_code"), [])
        self.assertFalse(os.path.exists(self.grant_file(server)))

    def test_never_on_a_plain_connection(self):
        server = self.token_server()
        self.assertEqual(self.authorize(self.account(server)).returncode, 0)
        plain = ScriptedServer()
        client = poplib.POP3("127.0.0.1", self.proxy.port, timeout=30)
        with self.assertRaises(poplib.error_proto) as refusal:
            client.user("%s@localhost:%d$OAUTH" % (USER, plain.port))
        self.assertIn("offers no TLS", refusal.exception.args[0].decode())
        client.quit()
        plain.stop()
        self.assertFalse([line for line in plain.lines if line.upper().startswith(("AUTH", "PASS", "USER"))],
                         plain.lines)

    def test_an_account_not_signed_in_is_told_what_to_run(self):
        server = self.token_server()
        reply = self.session(server)
        self.assertIn("has not signed in with its provider yet, run: quillfnc --authorize %s"
                      % self.account(server), reply)
        self.assertEqual(server.responses, [])


class TokenLoginsWithAKeyring(TokenLogins):
    """The same, with a desktop keyring: a session bus of the test's own
    and an unlocked keyring daemon on it, which keeps the tokens; the
    account's file then holds none."""

    # A session bus of the test's own that starts nothing by itself: the
    # keyring on it is the test's, unlocked with a password it gives.
    BUS_CONFIG = """<busconfig>
  <type>session</type>
  <listen>unix:dir=%s</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

    def proxy_env(self):
        self.home = os.path.join(self.folder, "home")
        os.makedirs(self.home)
        config = os.path.join(self.folder, "bus.conf")
        with open(config, "w") as f:
            f.write(self.BUS_CONFIG % self.folder)
        bus = subprocess.run(["dbus-daemon", "--config-file=" + config, "--fork", "--print-address=1",
                              "--print-pid=1"], capture_output=True, text=True, check=True).stdout.split()
        self.bus_address, self.bus_pid = bus[0], int(bus[1])
        self.keyring_env = dict(os.environ, HOME=self.home, DBUS_SESSION_BUS_ADDRESS=self.bus_address)
        self.keyring = subprocess.Popen(["gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"],
                                        stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        env=self.keyring_env)
        self.keyring.stdin.write(b"test-keyring-password")
        self.keyring.stdin.close()
        deadline = time.time() + 10
        while not self.secret_service_answers():
            self.assertLess(time.time(), deadline, "the keyring did not come up on the test's bus")
            time.sleep(0.1)
        return {"HOME": self.home, "DBUS_SESSION_BUS_ADDRESS": self.bus_address}

    def secret_service_answers(self):
        asked = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                                "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                                "string:org.freedesktop.secrets"], capture_output=True, text=True,
                               env=self.keyring_env)
        return "boolean true" in asked.stdout

    def tearDown(self):
        try:
            super().tearDown()
        finally:
            self.keyring.terminate()
            self.keyring.wait(10)
            os.kill(self.bus_pid, 15)

    # What the keyring changes is where tokens are kept: the cases that do
    # not keep or read any run once, without it.
    test_a_slow_token_endpoint_ends_within_the_login_deadline = None
    test_never_on_a_plain_connection = None
    test_an_account_not_signed_in_is_told_what_to_run = None
    test_a_browser_sign_in_the_user_declines_keeps_nothing = None

    def kept_tokens(self, server):
        account = "%s@localhost#%d" % (USER, server.port)
        found = subprocess.run(["secret-tool", "lookup", "account", account], capture_output=True, text=True,
                               env=self.keyring_env)
        self.assertEqual(found.returncode, 0, found.stderr)
        with open(self.grant_file(server)) as f:
            kept = f.read()
        self.assertIn("kept_in=keyring", kept)
        self.assertNotIn("token=", kept)
        return found.stdout

    def test_device_grant_then_xoauth2_and_oauthbearer_logins(self):
        server = self.token_server()
        self.provider.pending_polls = 2
        result = self.authorize(self.account(server))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(token("RT", 1), self.kept_tokens(server))
        with open(self.grant_file(server)) as f:
            self.assertNotIn(token("RT", 1), f.read())
        self.assertEqual(self.session(server), MESSAGE.encode())
        self.assertEqual(server.responses, [(b"XOAUTH2", server.expected(b"XOAUTH2", token("AT", 1)))])
        self.assertIn("Sign-in tokens are kept in the keyring", self.proxy.log())
        self.assert_no_secret_in_log()


if __name__ == "__main__":
    unittest.main()
