"""The shipped settings as a new user meets them: a first collection of a
hundred real messages through Dovecot with the shipped rules leaves no line
of any message in the log, and only a few lines per message; under a
service manager's journal, warnings reach standard error as well.  The
proxy's port and settings are given with quillfnc --set, as a user without
the desktop would.
"""
import email
import email.policy
import os
import poplib
import re
import shutil
import tempfile
import time
import unittest

from test_accounts import real_messages
from test_dovecot import Dovecot, Proxy

MESSAGES = 100
# The level letter of a log line: "category X hh:mm:ss thread text".
LEVEL = re.compile(r"^\S+\s+(\S) \d\d:\d\d:\d\d [0-9a-f]{8} ", re.M)


def telling_lines(text):
    """Lines of a message that only a copy of it would hold: its subject and
    message id, and the longer lines of its body."""
    message = email.message_from_bytes(text, policy=email.policy.compat32)
    lines = [message.get(name, "").strip() for name in ("Subject", "Message-ID")]
    body = text.split(b"\n\n", 1)[1] if b"\n\n" in text else b""
    lines += [line.decode("latin-1").strip() for line in body.split(b"\n")[:40]]
    return [line for line in lines if len(line) >= 24]


class ShippedSettings(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qfset.")
        os.chmod(self.folder, 0o755)
        self.dovecot = Dovecot(os.path.join(self.folder, "dovecot"))
        self.texts = real_messages(MESSAGES)
        for n, text in enumerate(self.texts):
            self.dovecot.deliver(text, "%d.m%d" % (1000 + n, n))
        self.user = "alice@127.0.0.1:%d" % self.dovecot.port
        self.proxy = None

    def tearDown(self):
        try:
            if self.proxy:
                self.assertEqual(self.proxy.stop(), 0)
        finally:
            self.dovecot.stop()
            shutil.rmtree(self.folder, ignore_errors=True)

    def start(self, **kwargs):
        self.proxy = Proxy(os.path.join(self.folder, "proxy"), shipped_rules=True, shipped_settings=True, **kwargs)

    def collect(self):
        poplib._MAXLINE = 1 << 20
        client = poplib.POP3("127.0.0.1", self.proxy.port, timeout=60)
        client.user(self.user)
        client.pass_("secret")
        count = client.stat()[0]
        texts = [b"\n".join(client.retr(n)[1]) for n in range(1, count + 1)]
        client.quit()
        return texts

    def test_a_first_collection_logs_no_mail_and_a_few_lines_a_message(self):
        self.start()
        received = self.collect()
        self.assertGreaterEqual(len(received), MESSAGES - 10, "the shipped rules let most mail through")
        log = self.proxy.log()
        levels = set(LEVEL.findall(log))
        self.assertNotIn("*", levels, "no lines exchanged with client or server")
        self.assertNotIn("D", levels, "no rule details")
        found = [line for text in self.texts for line in telling_lines(text) if line in log]
        self.assertEqual(found, [], "lines of the messages in the log")
        lines = log.count("\n")
        print("\nshipped log: %d lines, %d bytes for %d messages" % (lines, len(log), MESSAGES))
        self.assertLessEqual(lines, 3 * MESSAGES + 60, log[-4000:])

    def test_debug_logging_brings_back_every_rules_details(self):
        self.start(settings={"DebugLogging": 1})
        self.collect()
        log = self.proxy.log()
        self.assertIn("D", set(LEVEL.findall(log)))
        self.assertGreaterEqual(log.count(" Running "), MESSAGES, "a line for each rule run")

    def test_warnings_reach_standard_error_under_the_journal(self):
        self.start(settings={"MaxSessions": 1}, env={"JOURNAL_STREAM": "8:12345"})
        # The start-up check's own connection may still hold the one session
        # for a moment.
        deadline = time.monotonic() + 10
        while True:
            try:
                first = poplib.POP3("127.0.0.1", self.proxy.port, timeout=30)
                break
            except poplib.error_proto:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.1)
        with self.assertRaises(poplib.error_proto):
            poplib.POP3("127.0.0.1", self.proxy.port, timeout=30)
        first.quit()
        self.assertEqual(self.proxy.stop(), 0)
        output = self.proxy.process.stdout.read().decode(errors="replace")
        self.proxy = None
        self.assertIn("Connection refused: 1 sessions are running (MaxSessions)", output)
        self.assertNotIn("Accepting connections", output, "information stays in the log file")


if __name__ == "__main__":
    unittest.main()
