"""Several accounts at once: four mail clients, each with a 60 s time-out
as mail clients have, collect four Dovecot accounts through one proxy at
the same time, with the shipped rules and band 5 held back into the
archive, while an idle client stays connected.  Every account's mail
reaches its own client or the archive, once, and nothing else.

The messages are real mail: the developers' corpus when it is there
(QF_CORPUS, or ../shared/corpus/dev-mail.tar.gz beside the repository),
else the message fixtures of tests/data.
"""
import glob
import os
import poplib
import re
import shutil
import socket
import tarfile
import tempfile
import threading
import unittest

from test_dovecot import Dovecot, Proxy

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.environ.get("QF_CORPUS", os.path.join(HERE, "..", "..", "..", "shared", "corpus", "dev-mail.tar.gz"))
ACCOUNTS = ["u1", "u2", "u3", "u4"]
PER_ACCOUNT = 120
# Real mail has lines longer than poplib allows by default.
poplib._MAXLINE = 1 << 20
MARK = re.compile(rb"^X-Account-Test: (\S+)\r?$", re.M)


def real_messages(count):
    """count message texts (bytes, LF line ends), spam and wanted mail."""
    texts = []
    if os.path.isfile(CORPUS):
        with tarfile.open(CORPUS) as corpus:
            members = sorted((m for m in corpus.getmembers() if m.isfile() and m.name.endswith(".eml")),
                             key=lambda m: m.name)
            # Every kind of mail, taken in turn.
            folders = {}
            for member in members:
                folders.setdefault(member.name.split("/")[0], []).append(member)
            kinds = sorted(folders.values(), key=len)
            while len(texts) < count and any(kinds):
                for kind in kinds:
                    if kind and len(texts) < count:
                        texts.append(corpus.extractfile(kind.pop(0)).read())
    else:
        for path in sorted(glob.glob(os.path.join(HERE, "..", "data", "*", "*.eml"))):
            with open(path, "rb") as f:
                texts.append(f.read())
    texts = [t.replace(b"\r\n", b"\n") for t in texts]
    return [texts[i % len(texts)] for i in range(count)]


def marked(text, mark):
    return b"X-Account-Test: " + mark.encode() + b"\n" + text


class Collector(threading.Thread):
    """A mail client reading and deleting every message of one account."""

    def __init__(self, port, user):
        super().__init__()
        self.port, self.user = port, user
        self.marks, self.error = [], None

    def run(self):
        try:
            client = poplib.POP3("127.0.0.1", self.port, timeout=60)
            client.user(self.user)
            client.pass_("secret")
            count = client.stat()[0]
            for n in range(1, count + 1):
                text = b"\r\n".join(client.retr(n)[1])
                self.marks += [m.decode() for m in MARK.findall(text)]
                client.dele(n)
            client.quit()
        except Exception as error:  # reported by the test
            self.error = error


class SeveralAccounts(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qfacct.")
        os.chmod(self.folder, 0o755)
        self.dovecot = Dovecot(os.path.join(self.folder, "dovecot"), users=ACCOUNTS)
        texts = real_messages(PER_ACCOUNT * len(ACCOUNTS))
        self.sent = {}
        for a, account in enumerate(ACCOUNTS):
            self.sent[account] = []
            for n in range(PER_ACCOUNT):
                mark = "%s-%d" % (account, n)
                self.sent[account].append(mark)
                self.dovecot.deliver(marked(texts[a * PER_ACCOUNT + n], mark), "%d.m%d" % (1000 + n, n), account)
        self.archive = os.path.join(self.folder, "archive5")
        self.proxy = Proxy(os.path.join(self.folder, "proxy"), shipped_rules=True,
                           settings={"ALLOWTHROUGH5": 0, "ARCHIVE5": 1, "ARCHIVEPATH5": '"%s"' % self.archive})

    def tearDown(self):
        try:
            self.assertEqual(self.proxy.stop(), 0)
        finally:
            self.dovecot.stop()
            shutil.rmtree(self.folder, ignore_errors=True)

    def archived(self):
        marks = []
        for path in glob.glob(os.path.join(self.archive, "*")):
            with open(path, "rb") as f:
                marks += [m.decode() for m in MARK.findall(f.read())]
        return marks

    def test_four_accounts_at_once_each_get_their_own_mail_once(self):
        idle = socket.create_connection(("127.0.0.1", self.proxy.port), timeout=60)
        try:
            collectors = [Collector(self.proxy.port, "%s@127.0.0.1:%d" % (a, self.dovecot.port)) for a in ACCOUNTS]
            for collector in collectors:
                collector.start()
            for collector in collectors:
                collector.join(180)
        finally:
            idle.close()
        archived = self.archived()
        self.assertEqual(len(archived), len(set(archived)), "the archive holds each held-back message once")
        for account, collector in zip(ACCOUNTS, collectors):
            self.assertIsNone(collector.error, account)
            self.assertEqual(len(collector.marks), len(set(collector.marks)), "%s: a message came twice" % account)
            held = [m for m in archived if m.startswith(account + "-")]
            self.assertEqual(sorted(collector.marks + held), sorted(self.sent[account]),
                             "%s: every message reached its client or the archive, and only its own" % account)
            self.assertFalse(set(collector.marks) & set(held), "%s: delivered and held back" % account)
            direct = poplib.POP3("127.0.0.1", self.dovecot.port, timeout=10)
            direct.user(account)
            direct.pass_("secret")
            self.assertEqual(direct.stat()[0], 0, "%s: everything was deleted on the server" % account)
            direct.quit()
        self.assertGreater(len(archived), 0, "the shipped rules held back some spam")


if __name__ == "__main__":
    unittest.main()
