"""No message lost or archived twice, against a real Dovecot: a data root on
a file system that fills up while held-back messages are archived, and
proxies killed at every point of their sessions.

After each run every message must be still on the server or whole in its
band's archive, and in the archive at most once.  The disk-full test mounts
a small tmpfs and so needs root; it is skipped, saying so, otherwise.
"""
import os
import poplib
import random
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest

from test_dovecot import Dovecot, Proxy

PILLS_RULE = ('#rule "Pills" 100\n'
              'if "pills" in HEADERFIELDVALUE("Subject") then ISSPAM()\n'
              '#endrule\n'
              '#rule "Offer" 70\n'
              'if "offer" in HEADERFIELDVALUE("Subject") then ISSPAM()\n'
              '#endrule\n')


def message(kind, n, body_lines=3):
    """A message (LF line ends) that says what it is in its Subject and in
    an X-Seq field; its body is body_lines numbered lines."""
    subject = {"spam": "cheap pills %d" % n, "offer": "an offer %d" % n, "ham": "hello %d" % n}[kind]
    body = "".join("%s line %d of message %d\n" % (kind, i, n) for i in range(body_lines))
    return "From: sender%d@example.org\nSubject: %s\nX-Seq: %s-%d\n\n%s" % (n, subject, kind, n, body)


def split_archive(data):
    """The messages of a day file: each ends with a "." line; doubled dots
    are undone (as the archive's own reader does)."""
    messages, current = [], []
    for line in data.split(b"\r\n"):
        if line == b".":
            messages.append(b"\r\n".join(current))
            current = []
        else:
            current.append(line[1:] if line.startswith(b"..") else line)
    rest = b"\r\n".join(current).strip(b"\r\n")
    if rest:
        messages.append(rest)
    return messages


def archived(proxy, band):
    """The archived messages of band, and the names of the files there."""
    folder = os.path.join(proxy.folder, "data", "Corvanta Ltd", "Quillfence Pro", "archive", "rating%d" % band)
    copies, names = [], []
    if os.path.isdir(folder):
        for name in sorted(os.listdir(folder)):
            names.append(name)
            if name.lower().endswith(".txt"):
                with open(os.path.join(folder, name), "rb") as f:
                    copies += split_archive(f.read())
    return copies, names


def staged(proxy, band):
    """The copies that the staging files of band hold (see the proxy's
    StagingFile.h): after a QFSTAGE line, records of a mark ("+" kept, "D"
    dropped), a ten-digit length and a key, each followed by that many
    bytes."""
    folder = os.path.join(proxy.folder, "data", "Corvanta Ltd", "Quillfence Pro", "archive", "rating%d" % band)
    copies = []
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        if not name.endswith(".tmp"):
            continue
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
        at = data.index(b"\r\n") + 2
        while at < len(data) and data[at:at + 1] in (b"+", b"D"):
            end = data.index(b"\r\n", at)
            length = int(data[at + 1:at + 11])
            if data[at:at + 1] == b"+":
                copies += split_archive(data[end + 2:end + 2 + length])
            at = end + 2 + length
    return copies


def seq_of(text):
    for line in text.split(b"\r\n"):
        if line.startswith(b"X-Seq: "):
            return line[7:].decode()
        if not line:
            break
    return None


def on_server(dovecot):
    client = poplib.POP3("127.0.0.1", dovecot.port, timeout=30)
    client.user("alice")
    client.pass_("secret")
    seqs = []
    for n in range(client.stat()[0]):
        seqs.append(seq_of(b"\r\n".join(client.top(n + 1, 0)[1])))
    client.quit()
    return seqs


def read_all(port, user, delete=False):
    """A client session through the proxy: every message retrieved, then
    QUIT.  The retrieved texts."""
    client = poplib.POP3("127.0.0.1", port, timeout=60)
    client.user(user)
    client.pass_("secret")
    texts = []
    for n in range(client.stat()[0]):
        texts.append(b"\r\n".join(client.retr(n + 1)[1]))
        if delete:
            client.dele(n + 1)
    client.quit()
    return texts


class MailLoss(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qfloss.")
        os.chmod(self.folder, 0o755)
        self.dovecot = Dovecot(os.path.join(self.folder, "dovecot"))
        self.user = "alice@127.0.0.1:%d" % self.dovecot.port
        self.proxy = None
        self.mounted = None

    def tearDown(self):
        try:
            if self.proxy and self.proxy.process.poll() is None:
                self.proxy.stop()
        finally:
            self.dovecot.stop()
            if self.mounted:
                subprocess.run(["umount", "-l", self.mounted], check=False)
            shutil.rmtree(self.folder, ignore_errors=True)

    def check_each_message_once(self, originals, band_of, staging_left=False):
        """Every message on the server or whole in its band's archive, and
        archived at most once; with staging_left, copies still waiting in
        a staging file count as archived."""
        left = on_server(self.dovecot)
        copies = {}
        for band in (4, 5):
            texts, names = archived(self.proxy, band)
            if staging_left:
                texts += staged(self.proxy, band)
            else:
                self.assertFalse([n for n in names if n.endswith(".tmp")], "no staging file left in band %d" % band)
            for text in texts:
                copies.setdefault(seq_of(text), []).append((band, text))
        for seq, original in originals.items():
            found = copies.get(seq, [])
            self.assertLessEqual(len(found), 1, "%s archived %d times" % (seq, len(found)))
            if seq not in left:
                self.assertEqual(len(found), 1, "%s is neither on the server nor in the archive" % seq)
            for band, text in found:
                self.assertEqual(band, band_of(seq))
                body = original.split("\n\n", 1)[1].replace("\n", "\r\n").rstrip("\r\n").encode()
                self.assertTrue(body in text, "%s archived whole:\n%r" % (seq, text[:2000]))
        return left, copies

    def test_a_full_disk_while_archiving_deletes_only_what_is_wholly_archived(self):
        if os.getuid() != 0:
            self.skipTest("mounting the small tmpfs for the data root needs root")
        originals = {}
        for n in range(110):
            text = message("spam", n, body_lines=700)   # about 28 KB each: 3 MB in all
            originals["spam-%d" % n] = text
            self.dovecot.deliver(text, "%d.m%d" % (3000 + n, n))
        root = os.path.join(self.folder, "small")
        os.makedirs(root)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", root], check=True)
        self.mounted = root
        self.proxy = Proxy(root, settings={"ALLOWTHROUGH5": 0, "ARCHIVE5": 1, "SUBJECT5": 1},
                           rules=PILLS_RULE)
        served = read_all(self.proxy.port, self.user)
        # The day file may have had no room for the merge: the copies then
        # wait in their staging file for the account's next session.
        left, copies = self.check_each_message_once(originals, lambda seq: 5, staging_left=True)
        self.assertTrue(copies, "some messages were archived before the disk filled")
        self.assertTrue(left, "the disk filled before all were archived")
        # What stayed on the server reached the client, and the report
        # said why.
        delivered = {seq_of(text) for text in served}
        self.assertEqual(set(left) - delivered, set(), "every message kept on the server was delivered")
        report = [t for t in served if b"Subject: Quillfence Pro Collection Report" in t]
        self.assertEqual(len(report), 1)
        self.assertIn(b"Not deleted: no whole archive copy could be saved", report[0])

        # With room again, the next session merges what waited, archives and
        # deletes the rest.
        self.proxy.stop()
        subprocess.run(["mount", "-o", "remount,size=64m", root], check=True)
        self.proxy = self.restart(root)
        read_all(self.proxy.port, self.user)
        left, copies = self.check_each_message_once(originals, lambda seq: 5)
        self.assertEqual(left, [])
        self.assertEqual(set(copies), set(originals))

    def test_sessions_killed_at_any_point_archive_each_message_once(self):
        originals = {}
        for n in range(12):
            for kind in ("spam", "offer", "ham"):
                text = message(kind, n, body_lines=40)
                originals["%s-%d" % (kind, n)] = text
                self.dovecot.deliver(text, "%d.%s%d" % (4000 + n, kind, n))
        settings = {"ALLOWTHROUGH5": 0, "ARCHIVE5": 1, "SUBJECT5": 1, "ARCHIVE4": 1, "ALLOWTHROUGH4": 1}
        # How long one session takes, to spread the kills over it: measured
        # by a proxy that deletes nothing, started once before (as the
        # killed ones are) so that its first start is not counted.
        measure = os.path.join(self.folder, "measure")
        self.proxy = Proxy(measure, settings=dict(settings, ALLOWTHROUGH5=1), rules=PILLS_RULE)
        self.proxy.stop()
        self.proxy = self.restart(measure)
        started = time.time()
        read_all(self.proxy.port, self.user)
        span = max(time.time() - started, 0.02)
        self.proxy.stop()
        proxy_folder = os.path.join(self.folder, "proxy")
        self.proxy = Proxy(proxy_folder, settings=settings, rules=PILLS_RULE)
        random.seed(26)
        kills = 0   # sessions cut off part-way
        for round_ in range(20):
            if round_ > 0:
                self.proxy = self.restart(proxy_folder)
            # From the first moments of a session to just after its QUIT.
            delay = span * (round_ + random.random()) / 20 * 1.3
            timer = threading.Timer(delay, self.proxy.process.send_signal, [signal.SIGKILL])
            timer.start()
            try:
                read_all(self.proxy.port, self.user)
            except (OSError, poplib.error_proto, EOFError):
                kills += 1   # the kill came in the middle of the session
            timer.join()
            self.proxy.process.wait(10)
        self.assertGreater(kills, 5, "most sessions were killed part-way")
        self.proxy = self.restart(proxy_folder)
        read_all(self.proxy.port, self.user)

        def band_of(seq):
            return 5 if seq.startswith("spam") else 4
        left, copies = self.check_each_message_once(originals, band_of)
        for seq in originals:
            if seq.startswith("spam"):
                self.assertNotIn(seq, left, "held back: deleted on the server")
                self.assertEqual(len(copies.get(seq, [])), 1)
            elif seq.startswith("offer"):
                self.assertIn(seq, left)
                self.assertEqual(len(copies.get(seq, [])), 1, "%s archived once" % seq)
            else:
                self.assertIn(seq, left)
                self.assertNotIn(seq, copies)

    def restart(self, folder):
        """The proxy again on the data root it had (a killed one left its
        runtime folder and settings behind)."""
        proxy = Proxy.__new__(Proxy)
        proxy.folder = folder
        proxy.port = self.proxy.port
        proxy.env = self.proxy.env
        proxy.state = self.proxy.state
        proxy.logs = self.proxy.logs
        proxy.process = subprocess.Popen([os.environ["QUILLFNC"], "-nogui"], env=proxy.env,
                                         stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        from test_dovecot import wait_for_port
        wait_for_port(proxy.port)
        return proxy


if __name__ == "__main__":
    unittest.main()
