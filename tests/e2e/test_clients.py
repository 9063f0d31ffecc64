"""End to end with the POP3 clients people run: fetchmail, mpop, getmail6,
curl and Python's poplib read a real Dovecot mailbox of a hundred messages
through the proxy, over 127.0.0.1 and over ::1.  fetchmail, mpop and
getmail6 run with the settings of the setup guide (docs/clients.md), read
from it here, with only its placeholders filled in.

Every message a client delivers must be byte for byte what Dovecot serves
directly, apart from the one Received header the client puts on top of it.
A client that deletes must lose nothing it did not receive whole: whatever
is gone from Dovecot afterwards must have been delivered complete.
"""
import base64
import email.parser
import os
import poplib
import pwd
import random
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

from test_dovecot import Dovecot, Proxy

COUNT = 100
CLIENT_SECONDS = 120

# Line lengths either side of 1024 bytes with their CR LF: a line reader with
# a fixed buffer splits such a line, or its CR from its LF, between reads.
EDGE_LENGTHS = list(range(1016, 1026))


def message_id(n):
    return "<qf-%03d@example.org>" % n


def header(n, subject, extra=""):
    # Two in three carry a trace of their own that a client must leave alone.
    trace = "" if n % 3 == 2 else (
        "Return-Path: <sender%d@example.net>\n"
        "Received: from relay.example.net (relay.example.net [192.0.2.%d])\n"
        "\tby mx.example.org with ESMTP id %08X; Mon, 7 Dec 2026 10:%02d:00 +0000\n"
        % (n, n % 250 + 1, n * 7919, n % 60))
    return (trace +
            "From: Sender %d <sender%d@example.net>\n"
            "To: alice@example.org\n"
            "Subject: %s\n"
            "Date: Mon, 7 Dec 2026 10:%02d:00 +0000\n"
            "Message-ID: %s\n"
            "%s" % (n, n, subject, n % 60, message_id(n), extra))


def words(rng, length):
    """Printable text of exactly length characters."""
    vocabulary = ["mail", "filter", "quill", "fence", "the", "a", "of", "spam", "ham",
                  "0123456789", "x" * 17, "tab\there", "end."]
    out = ""
    while len(out) < length:
        out += rng.choice(vocabulary) + " "
    out = out[:length]
    return out[:-1] + "z" if out.endswith(" ") else out


def dotted_lines(rng):
    """Lines a POP3 server must dot-stuff and a client must un-stuff."""
    lines = [".", "..", "...", ".hidden", ". space", "..double", ".\t", "a line that ends in a dot."]
    rng.shuffle(lines)
    return lines


def body_lines(rng, target):
    """Plain text lines, some long, some starting with a dot, about target bytes."""
    lines, size = [], 0
    while size < target:
        kind = rng.random()
        if kind < 0.08:
            line = "." + words(rng, rng.randint(0, 60))
        elif kind < 0.16:
            line = words(rng, rng.randint(250, 1100))
        elif kind < 0.22:
            line = ""
        else:
            line = words(rng, rng.randint(1, 78))
        lines.append(line)
        size += len(line) + 1
    return lines


def multipart(n, rng):
    boundary = "=_qf_boundary_%d" % n
    payload = bytes(rng.randrange(256) for _ in range(24000))
    encoded = base64.encodebytes(payload).decode()
    parts = [
        "This is a multi-part message in MIME format.\n",
        "--%s\nContent-Type: text/plain; charset=us-ascii\n\n%s\n" % (
            boundary, "\n".join(body_lines(rng, 1500))),
        "--%s\nContent-Type: text/html; charset=utf-8\nContent-Transfer-Encoding: quoted-printable\n\n"
        "<html><body><p>Caf=C3=A9 =E2=82=AC 10</p>=\n<p>%s</p></body></html>\n" % (boundary, "q" * 70),
        "--%s\nContent-Type: application/octet-stream; name=\"data.bin\"\n"
        "Content-Transfer-Encoding: base64\nContent-Disposition: attachment; filename=\"data.bin\"\n\n%s" % (
            boundary, encoded),
        "--%s--\n" % boundary,
    ]
    return header(n, "multipart with an attachment",
                  "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"%s\"\n" % boundary) \
        + "\n" + "\n".join(parts)


def make_messages():
    """COUNT messages as the maildir holds them (LF line ends), always the same."""
    rng = random.Random(20261207)
    messages = []
    for n in range(COUNT):
        if n == 0:
            # Header and an empty body.
            text = header(n, "header only") + "\n"
        elif n == 1:
            text = multipart(n, rng)
        elif n == 2:
            # The largest one, about 100 KB.
            text = header(n, "large") + "\n" + "\n".join(body_lines(rng, 100 * 1024)) + "\n"
        elif n == 3:
            text = header(n, "dots") + "\n" + "\n".join(dotted_lines(rng)) + "\n"
        elif n == 4:
            # Lines of every length around a read buffer's size, each followed
            # by a lone dot, and lines whose last character is a dot.
            lines = []
            for length in EDGE_LENGTHS:
                lines += [words(rng, length), "."]
                lines += [words(rng, length - 1) + "."]
            text = header(n, "buffer edges") + "\n" + "\n".join(lines) + "\n"
        elif n == 5:
            text = header(n, "long header", "X-Long: " + words(rng, 1000) + "\n"
                          "X-Folded: first\n\t" + words(rng, 300) + "\n") + "\nshort body\n"
        elif n == 6:
            text = header(n, "eight bit", "MIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\n"
                          "Content-Transfer-Encoding: 8bit\n") + \
                "\nGr\u00fc\u00dfe aus K\u00f6ln \u2013 \u20ac 5\n\u65e5\u672c\u8a9e\n"
        elif n == 7:
            # Trailing blank lines and a Received line inside the body: only
            # the client's own header may go.
            text = header(n, "body oddities") + "\nReceived: not a header\nFrom the body\n \n\t\n\n\n"
        elif n == 8:
            # A body of one lone dot.
            text = header(n, "one dot") + "\n.\n"
        elif n % 17 == 0:
            text = header(n, "big %d" % n) + "\n" + "\n".join(body_lines(rng, rng.randint(30000, 80000))) + "\n"
        else:
            size = rng.choice([200, 800, 2000, 5000, 12000])
            text = header(n, "message %d" % n) + "\n" + "\n".join(body_lines(rng, rng.randint(size // 2, size))) + "\n"
        messages.append(text.encode("utf-8"))
    return messages


MESSAGES = make_messages()


def without_client_trace(delivered):
    """The delivered message less the first Received header (with its folded
    lines): the one the client put in.  Raises if the header has none."""
    end = delivered.find(b"\n\n")
    head = delivered[:end + 1] if end >= 0 else delivered
    match = re.search(rb"(?m)^Received:.*\n(?:[ \t].*\n)*", head)
    if match is None:
        raise AssertionError("no Received header in the delivered message")
    return delivered[:match.start()] + delivered[match.end():]


def as_lf(text):
    """What an MDA is handed: the message with LF line ends."""
    return text.replace(b"\r\n", b"\n")


def describe(got, want):
    """How a delivered copy differs from the message Dovecot serves."""
    blank = b"\r\n\r\n" if b"\r\n" in want else b"\n\n"
    head = want[:want.find(blank) + len(blank)] if blank in want else want
    if got == head and got != want:
        return "the header alone (%d of %d bytes)" % (len(got), len(want))
    at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
    return "%d bytes where Dovecot serves %d, first difference at byte %d: %r instead of %r" % (
        len(got), len(want), at, got[at:at + 40], want[at:at + 40])


# The MDA the tests give fetchmail and mpop: every message into a file of its
# own, never over another one.
DELIVER = """import os, sys, time
data = sys.stdin.buffer.read()
n = 0
while True:
    path = os.path.join(sys.argv[1], "%d.%d.%d.eml" % (time.time_ns(), os.getpid(), n))
    try:
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
        break
    except FileExistsError:
        n += 1
with os.fdopen(fd, "wb") as f:
    f.write(data)
"""


GUIDE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "clients.md")


def guide_setup(kind):
    """The guide's one block of settings of kind (its fence's info string)."""
    with open(GUIDE) as f:
        found = re.findall(r"(?ms)^```%s\n(.*?)^```$" % re.escape(kind), f.read())
    if len(found) != 1:
        raise AssertionError("docs/clients.md has %d blocks of %s settings, not one" % (len(found), kind))
    return found[0]


def filled(setup, changes):
    """setup with each (text, replacement) of changes made; each text must
    be there, so that the guide cannot drift from what is tested."""
    for text, replacement in changes:
        if text not in setup:
            raise AssertionError("the guide's settings no longer hold %r:\n%s" % (text, setup))
        setup = setup.replace(text, replacement)
    return setup


# The guide's placeholders.
GUIDE_PORT = "1110"
GUIDE_USER = "you@pop.example.com"
GUIDE_PASSWORD = "your-password"


class Mailbox(unittest.TestCase):
    """A Dovecot holding MESSAGES, a proxy in front of it, and what Dovecot
    itself serves for each message (read before any client runs)."""

    # The address the clients reach the proxy at.
    host = "127.0.0.1"

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qfclients.")
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)
        # Dovecot's own unprivileged processes read below this folder.
        os.chmod(self.folder, 0o755)
        self.dovecot = Dovecot(os.path.join(self.folder, "dovecot"))
        self.addCleanup(self.dovecot.stop)
        for n, text in enumerate(MESSAGES):
            self.dovecot.deliver(text, "%d.m%d" % (1000 + n, n))
        direct = self.direct()
        self.assertEqual(direct.stat()[0], COUNT)
        # What a client gets once un-stuffed: the RETR lines joined by CR LF.
        self.expected = [b"\r\n".join(direct.retr(n + 1)[1]) + b"\r\n" for n in range(COUNT)]
        self.sizes = direct.list()[1]
        self.uids = [line.split()[1] for line in direct.uidl()[1]]
        direct.quit()
        self.proxy = Proxy(os.path.join(self.folder, "proxy"))
        self.user = "alice@127.0.0.1:%d" % self.dovecot.port
        self.out = os.path.join(self.folder, "delivered")
        os.makedirs(self.out)
        self.home = os.path.join(self.folder, "home")
        os.makedirs(self.home, mode=0o700)

    def tearDown(self):
        # Dovecot stops and the folder goes in the clean-ups, also when
        # setUp failed half way.
        self.assertEqual(self.proxy.stop(), 0)

    def direct(self):
        client = poplib.POP3("127.0.0.1", self.dovecot.port, timeout=10)
        client.user("alice")
        client.pass_("secret")
        return client

    def proxied(self):
        client = poplib.POP3(self.host, self.proxy.port, timeout=60)
        client.user(self.user)
        client.pass_("secret")
        return client

    def mda(self):
        script = os.path.join(self.home, "deliver.py")
        with open(script, "w") as f:
            f.write(DELIVER)
        return "%s %s %s" % (sys.executable, script, self.out)

    def run_client(self, command, env=None):
        """Runs a client to its end; its exit status must be 0."""
        env = dict(os.environ, HOME=self.home, **(env or {}))
        done = subprocess.run(command, env=env, capture_output=True, timeout=CLIENT_SECONDS)
        output = (done.stdout + done.stderr).decode(errors="replace")
        with open(os.path.join(self.folder, "client.log"), "w") as f:
            f.write(output)
        self.assertEqual(done.returncode, 0, "%s failed:\n%s" % (command[0], output[-3000:]))
        return output

    def delivered(self, folder=None):
        """Message number (0-based) to delivered copy, each copy as the MDA
        (or the client) wrote it into folder (the MDA's by default) less the
        client's Received header.  A message must not arrive twice."""
        copies = {}
        folder = folder or self.out
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name), "rb") as f:
                data = f.read()
            found = re.search(rb"(?m)^Message-ID: <qf-(\d+)@example\.org>$", data)
            self.assertIsNotNone(found, "%s is none of the messages:\n%r" % (name, data[:500]))
            n = int(found.group(1))
            self.assertNotIn(n, copies, "message %d delivered twice" % n)
            copies[n] = without_client_trace(data)
        return copies

    def faults(self, copies, numbers, want):
        """The messages among numbers that did not arrive as want(n)."""
        problems = []
        for n in numbers:
            if n not in copies:
                problems.append("%s: never delivered" % message_id(n))
            elif copies[n] != want(n):
                problems.append("%s: delivered %s" % (message_id(n), describe(copies[n], want(n))))
        return problems

    def fail_with(self, problems, what):
        if problems:
            shown = "\n  ".join(problems[:12])
            more = "\n  ... and %d more" % (len(problems) - 12) if len(problems) > 12 else ""
            self.fail("%d of %d messages %s:\n  %s%s" % (len(problems), COUNT, what, shown, more))

    def server_uids(self):
        direct = self.direct()
        uids = [line.split()[1] for line in direct.uidl()[1]]
        direct.quit()
        return uids

    def assert_kept_and_delivered(self, copies, want):
        """After a run that keeps mail: Dovecot still holds every message and
        every one arrived as want(n)."""
        self.assertEqual(self.server_uids(), self.uids, "a client told to keep mail deleted some")
        self.fail_with(self.faults(copies, range(COUNT), want), "did not arrive byte for byte")

    def assert_nothing_lost(self, copies, want):
        """After a run that deletes: whatever is gone from Dovecot arrived
        whole, and in the end all arrived and Dovecot is empty."""
        left = set(self.server_uids())
        gone = [n for n in range(COUNT) if self.uids[n] not in left]
        self.fail_with(self.faults(copies, gone, want),
                       "are deleted from the server but were not delivered whole")
        self.fail_with(self.faults(copies, range(COUNT), want), "did not arrive byte for byte")
        self.assertEqual(sorted(left), [], "messages left on the server after a run that deletes")


class Fetchmail(Mailbox):
    """fetchmail through the proxy.  With "fetchall" it reads with RETR;
    otherwise with "TOP n 99999999" (after "keep" only when "uidl" is set
    too), which must hand over the whole message as well."""

    def fetch(self, uidl, options):
        """fetchmail with the guide's settings; uidl: keep its "uidl";
        options: its "options keep" made "options <options>"."""
        rc = os.path.join(self.home, "fetchmailrc")
        setup = filled(guide_setup("fetchmailrc"), [
            # An IPv6 address is a string in fetchmail's settings.
            ("poll 127.0.0.1 ", 'poll "%s" ' % self.host if ":" in self.host else "poll %s " % self.host),
            ("port %s uidl" % GUIDE_PORT, "port %d%s timeout 60" % (self.proxy.port, " uidl" if uidl else "")),
            ('"%s"' % GUIDE_USER, '"%s"' % self.user),
            ('"%s"' % GUIDE_PASSWORD, '"secret"'),
            ("options keep ", "options %s " % options),
            ('mda "/usr/bin/procmail -d %T"', 'mda "%s"' % self.mda())])
        with open(rc, "w") as f:
            f.write(setup)
        os.chmod(rc, 0o600)
        return self.run_client(["fetchmail", "-N", "-v", "-v", "-f", rc,
                                "--idfile", os.path.join(self.home, "fetchids"),
                                "--pidfile", os.path.join(self.home, "fetchmail.pid")],
                               {"FETCHMAILHOME": self.home})

    def assert_read_with(self, trace, command):
        self.assertEqual(len(re.findall(r"POP3> %s \d+" % re.escape(command), trace)), COUNT,
                         "fetchmail was expected to read every message with %s" % command)

    def test_keep_with_retr_leaves_mail_and_delivers_every_byte(self):
        trace = self.fetch(False, "keep fetchall")
        self.assert_read_with(trace, "RETR")
        self.assert_kept_and_delivered(self.delivered(), lambda n: as_lf(self.expected[n]))

    def test_keep_with_top_over_ipv6_leaves_mail_and_delivers_every_byte(self):
        self.host = "::1"
        trace = self.fetch(True, "keep")
        self.assert_read_with(trace, "TOP")
        self.assertIn("TOP 1 99999999", trace)
        self.assert_kept_and_delivered(self.delivered(), lambda n: as_lf(self.expected[n]))

    def test_retr_and_delete_loses_nothing(self):
        trace = self.fetch(False, "fetchall")
        self.assert_read_with(trace, "RETR")
        self.assert_nothing_lost(self.delivered(), lambda n: as_lf(self.expected[n]))

    def test_top_and_delete_loses_nothing(self):
        # fetchmail's default: TOP n 99999999, the copy handed to the MDA,
        # then DELE n.
        trace = self.fetch(False, "")
        self.assert_read_with(trace, "TOP")
        self.assertIn("TOP 1 99999999", trace)
        self.assert_nothing_lost(self.delivered(), lambda n: as_lf(self.expected[n]))

    def test_top_and_delete_in_a_later_session_loses_nothing(self):
        # An earlier session that only looked: the proxy knows every message
        # by its header when fetchmail comes.
        client = self.proxied()
        self.assertEqual(client.stat()[0], COUNT)
        client.quit()
        trace = self.fetch(False, "")
        self.assert_read_with(trace, "TOP")
        self.assert_nothing_lost(self.delivered(), lambda n: as_lf(self.expected[n]))


class Mpop(Mailbox):
    """mpop through the proxy, reading with RETR."""

    def fetch(self, keep, pipelining):
        """mpop with the guide's settings, keeping mail or not, its
        pipelining as told."""
        rc = os.path.join(self.home, "mpoprc")
        setup = filled(guide_setup("mpoprc"), [
            ("host 127.0.0.1\n", "host %s\n" % self.host),
            ("port %s\n" % GUIDE_PORT, "port %d\n" % self.proxy.port),
            ("user %s\n" % GUIDE_USER, "user %s\n" % self.user),
            ("password %s\n" % GUIDE_PASSWORD, "password secret\n"),
            ("keep on\n", "keep %s\n" % keep),
            ("delivery maildir ~/Mail/inbox\n", 'delivery mda "%s"\n' % self.mda())])
        with open(rc, "w") as f:
            f.write(setup + "timeout 60\npipelining %s\nuidls_file %s\n" % (pipelining, os.path.join(self.home, "uidls")))
        os.chmod(rc, 0o600)
        trace = self.run_client(["mpop", "--debug", "-C", rc, "quillfence"])
        self.assertEqual(len(re.findall(r"(?m)^--> RETR \d+\r?$", trace)), COUNT)
        return trace

    def test_keep_over_ipv6_leaves_mail_and_delivers_every_byte(self):
        self.host = "::1"
        self.fetch("on", "auto")
        self.assert_kept_and_delivered(self.delivered(), lambda n: as_lf(self.expected[n]))

    def test_pipelined_retr_and_delete_loses_nothing(self):
        # mpop sends its RETRs and DELEs in batches without waiting for each
        # reply.
        trace = self.fetch("off", "on")
        self.assertEqual(len(re.findall(r"(?m)^--> DELE \d+\r?$", trace)), COUNT)
        self.assert_nothing_lost(self.delivered(), lambda n: as_lf(self.expected[n]))


class Getmail(Mailbox):
    """getmail6 through the proxy, reading with RETR into a maildir."""

    def fetch(self, delete):
        """getmail6 with the guide's settings, deleting mail or not."""
        maildir = os.path.join(self.folder, "Maildir")
        for sub in ("cur", "new", "tmp"):
            os.makedirs(os.path.join(maildir, sub), exist_ok=True)
        getmaildir = os.path.join(self.home, "getmail")
        os.makedirs(getmaildir, exist_ok=True)
        setup = filled(guide_setup("getmailrc"), [
            ("server = 127.0.0.1\n", "server = %s\n" % self.host),
            ("port = %s\n" % GUIDE_PORT, "port = %d\n" % self.proxy.port),
            ("username = %s\n" % GUIDE_USER, "username = %s\n" % self.user),
            ("password = %s\n" % GUIDE_PASSWORD, "password = secret\n"),
            ("path = ~/Mail/inbox/\n", "path = %s/\n" % maildir),
            ("delete = false\n", "delete = %s\n" % ("true" if delete else "false"))])
        if os.getuid() == 0:
            # getmail delivers as root only to a maildir of the user named
            # (it is run by root only in tests).
            owner = pwd.getpwnam("nobody")
            for root, _, _ in os.walk(maildir):
                os.chown(root, owner.pw_uid, owner.pw_gid)
            setup = filled(setup, [("type = Maildir\n", "type = Maildir\nuser = nobody\n")])
        rc = os.path.join(getmaildir, "getmailrc")
        with open(rc, "w") as f:
            f.write(setup + "verbose = 2\ntimeout = 60\n")
        os.chmod(rc, 0o600)
        self.run_client(["getmail", "--getmaildir", getmaildir, "--rcfile", rc])
        return self.delivered_by_getmail(os.path.join(maildir, "new"))

    def as_getmail_writes(self, n):
        """Message n as getmail writes what Dovecot serves: parsed and
        written again by Python's email package (long header lines may be
        folded anew), its Return-Path taken out (getmail puts its own on
        top)."""
        parsed = email.parser.BytesParser().parsebytes(as_lf(self.expected[n]))
        del parsed["Return-Path"]
        return parsed.as_bytes(policy=parsed.policy.clone(linesep="\n"))

    def delivered_by_getmail(self, folder):
        """What getmail wrote, less the Return-Path and Delivered-To lines
        it puts on top of its Received line."""
        stripped = os.path.join(self.folder, "stripped")
        os.makedirs(stripped, exist_ok=True)
        for name in os.listdir(folder):
            with open(os.path.join(folder, name), "rb") as f:
                data = f.read()
            while data.startswith((b"Delivered-To:", b"Return-Path:")):
                data = data[data.index(b"\n") + 1:]
            with open(os.path.join(stripped, name), "wb") as f:
                f.write(data)
        return self.delivered(stripped)

    def test_keep_over_ipv6_leaves_mail_and_delivers_every_byte(self):
        self.host = "::1"
        self.assert_kept_and_delivered(self.fetch(False), self.as_getmail_writes)

    def test_retr_and_delete_loses_nothing(self):
        self.assert_nothing_lost(self.fetch(True), self.as_getmail_writes)


class CurlAndPoplib(Mailbox):
    """Clients that hand over the message exactly as un-stuffed from the
    wire, CR LF line ends and no trace header of their own."""

    def url(self):
        host = "[%s]" % self.host if ":" in self.host else self.host
        return "pop3://%s:secret@%s:%d/" % (urllib.parse.quote(self.user, safe=""), host, self.proxy.port)

    def test_curl_over_ipv6_reads_every_message_then_deletes_them(self):
        # One curl, one connection: RETR 1 to RETR 100, then DELE 1 to
        # DELE 100.
        self.host = "::1"
        self.run_client(["curl", "-sS", "--max-time", "60", self.url() + "[1-%d]" % COUNT,
                         "-o", os.path.join(self.out, "#1.eml")])
        copies = {}
        for n in range(COUNT):
            with open(os.path.join(self.out, "%d.eml" % (n + 1)), "rb") as f:
                copies[n] = f.read()
        self.fail_with(self.faults(copies, range(COUNT), lambda n: self.expected[n]),
                       "did not arrive byte for byte")
        self.run_client(["curl", "-sS", "--max-time", "60", "-X", "DELE", "-I",
                         self.url() + "[1-%d]" % COUNT])
        self.assert_nothing_lost(copies, lambda n: self.expected[n])

    def test_poplib_reads_every_message_as_dovecot_serves_it(self):
        client = self.proxied()
        self.assertEqual(client.stat()[0], COUNT)
        self.assertEqual(client.list()[1], self.sizes)
        self.assertEqual([line.split()[1] for line in client.uidl()[1]], self.uids)
        copies = {n: b"\r\n".join(client.retr(n + 1)[1]) + b"\r\n" for n in range(COUNT)}
        client.quit()
        self.fail_with(self.faults(copies, range(COUNT), lambda n: self.expected[n]),
                       "did not arrive byte for byte")
        self.assertEqual(self.server_uids(), self.uids)

    def test_poplib_top_over_ipv6_gives_what_dovecot_gives(self):
        self.host = "::1"
        counts = (0, 1, 5, 99999999)
        direct = self.direct()
        want = {(n, k): direct.top(n + 1, k)[1] for n in range(COUNT) for k in counts}
        direct.quit()
        client = self.proxied()
        problems = []
        for n in range(COUNT):
            for k in counts:
                got = client.top(n + 1, k)[1]
                if got != want[n, k]:
                    problems.append("TOP %d %d: %s" % (n + 1, k, describe(b"\r\n".join(got) + b"\r\n",
                                                                          b"\r\n".join(want[n, k]) + b"\r\n")))
        client.quit()
        self.fail_with(problems, "answer TOP unlike Dovecot (%d line counts each)" % len(counts))


if __name__ == "__main__":
    unittest.main()
