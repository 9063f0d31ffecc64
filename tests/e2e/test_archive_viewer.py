"""A message a rule held back and had deleted on the server, found in the
archive viewer and restored with one click, reaches the mail client at the
next session whole and unmarked, and one learned there as wanted mail has
a lower learned probability: a real Dovecot, the proxy, poplib, and the
viewer driven offscreen (viewer_click)."""
import os
import poplib
import shutil
import subprocess
import tempfile
import unittest

from test_dovecot import QUILLFNC, Dovecot, Proxy
from test_mail_loss import PILLS_RULE, read_all

VIEWER_CLICK = os.environ["QF_VIEWER_CLICK"]

SPAM = ("From: Shop <shop@example.com>\nTo: alice@example.org\nSubject: cheap pills today\n"
        "Message-ID: <pills.1@example.com>\n\nOrder now.\n.a line that starts with a dot\nBye\n")
HAM = "From: Ann <ann@example.org>\nTo: alice@example.org\nSubject: lunch\n\nAt noon.\n"


def mail(texts):
    """The messages of a session but the proxy's collection report."""
    return [text for text in texts if b"Subject: Quillfence Pro Collection Report" not in text]


def as_received(text):
    """What poplib gives back of a message: its lines without their ends."""
    return text.replace("\n", "\r\n").rstrip("\r\n").encode()


class RestoreFromTheViewer(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qfviewer.")
        os.chmod(self.folder, 0o755)
        self.dovecot = Dovecot(os.path.join(self.folder, "dovecot"))
        self.dovecot.deliver(SPAM, "1000.spam")
        self.dovecot.deliver(HAM, "1001.ham")
        self.proxy = Proxy(os.path.join(self.folder, "proxy"), rules=PILLS_RULE,
                           settings={"ALLOWTHROUGH5": 0, "ARCHIVE5": 1, "SUBJECT5": 1})
        self.user = "alice@127.0.0.1:%d" % self.dovecot.port

    def tearDown(self):
        try:
            self.assertEqual(self.proxy.stop(), 0)
        finally:
            self.dovecot.stop()
            shutil.rmtree(self.folder, ignore_errors=True)

    def on_the_server(self):
        client = poplib.POP3("127.0.0.1", self.dovecot.port, timeout=10)
        client.user("alice")
        client.pass_("secret")
        count = client.stat()[0]
        client.quit()
        return count

    def click(self, action, text):
        clicked = subprocess.run([VIEWER_CLICK, action, text], capture_output=True, text=True, timeout=60,
                                 env=dict(self.proxy.env, QT_QPA_PLATFORM="offscreen"))
        self.assertEqual(clicked.returncode, 0, clicked.stdout + clicked.stderr)
        return clicked.stdout

    def probability(self, path):
        shown = subprocess.run([QUILLFNC, "--probability", path], capture_output=True, text=True, check=True,
                               env=self.proxy.env).stdout
        return int(shown.splitlines()[0].split("\t")[-1])

    def learn(self, kind, texts):
        folder = os.path.join(self.folder, "learn-" + kind)
        os.makedirs(folder)
        for n, text in enumerate(texts):
            with open(os.path.join(folder, "%d.eml" % n), "w") as f:
                f.write(text)
        subprocess.run([QUILLFNC, "--learn", kind, folder], check=True, capture_output=True, env=self.proxy.env)

    def test_learning_as_wanted_in_the_viewer_lowers_the_messages_probability(self):
        # The classifier rates once it knows fifty of each kind.
        self.learn("spam", ["From: s%d@offers.example\nSubject: cheap pills %d\n\nOrder now, pills at half price.\n"
                            % (n, n) for n in range(60)])
        self.learn("ham", ["From: ann@example.org\nSubject: lunch %d\n\nShall we meet at noon on Friday?\n" % n
                           for n in range(60)])
        self.assertEqual(mail(read_all(self.proxy.port, self.user)), [as_received(HAM)])
        saved = os.path.join(self.folder, "pills.eml")
        with open(saved, "w") as f:
            f.write(SPAM)
        before = self.probability(saved)
        self.assertIn("Learned as wanted mail.", self.click("learn-wanted", "pills"))
        after = self.probability(saved)
        self.assertLess(after, before)
        self.assertIn("already", self.click("learn-wanted", "pills"), "learned once")
        self.assertEqual(self.probability(saved), after)

    def test_a_restored_message_arrives_whole_and_unmarked_at_the_next_session(self):
        first = mail(read_all(self.proxy.port, self.user))
        self.assertEqual(first, [as_received(HAM)], "the spam was held back")
        self.assertEqual(self.on_the_server(), 1, "and deleted on the server")

        restored = self.click("restore", "pills")
        self.assertIn("Restored", restored)

        second = mail(read_all(self.proxy.port, self.user))
        self.assertEqual(second, [as_received(HAM), as_received(SPAM)],
                         "the message as it came, its subject unmarked, without the filter's lines")
        # Delivered once: the pending copy went with that session's QUIT.
        self.assertEqual(mail(read_all(self.proxy.port, self.user)), [as_received(HAM)])


if __name__ == "__main__":
    unittest.main()
