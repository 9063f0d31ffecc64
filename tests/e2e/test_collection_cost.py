"""What a new user's collection costs the disk, counted rather than timed:
a thousand real messages (the developers' corpus when it is there) through
Dovecot with the shipped rules and settings, the proxy under strace.  Most
messages are fetched whole, many are marked and archived; still the session
may create files and flush to disk only a handful of times, not once per
message, and the state folder holds a few files, not one per message.
"""
import os
import poplib
import re
import shutil
import tempfile
import unittest

from test_accounts import real_messages
from test_dovecot import Dovecot, Proxy

MESSAGES = 1000
# Files the session may create: the scratch spool and the pack, the
# archive's staging files (one per band that archives), the collection
# report, the account state and the hives' lock and temporary files.
CREATE_BUDGET = 40
# Flushes: the staging files and their folders before QUIT, one of the
# state folder's file system, the account state, the archive's day files
# merged after QUIT, the hives.
FLUSH_BUDGET = 40
CALLS = "connect,openat,open,creat,fsync,fdatasync,syncfs,rename,renameat,renameat2"
CALL = re.compile(r"^\d+\s+(\w+)\(")


class ShippedCollectionCost(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qfcost.")
        os.chmod(self.folder, 0o755)
        self.dovecot = Dovecot(os.path.join(self.folder, "dovecot"))
        for n, text in enumerate(real_messages(MESSAGES)):
            self.dovecot.deliver(text, "%d.m%d" % (100000 + n, n))
        self.proxy = None

    def tearDown(self):
        try:
            if self.proxy:
                self.proxy.stop()
        finally:
            self.dovecot.stop()
            shutil.rmtree(self.folder, ignore_errors=True)

    def test_a_thousand_messages_create_and_flush_files_a_handful_of_times(self):
        trace = os.path.join(self.folder, "trace")
        # LeakSanitizer cannot run under a tracer: an instrumented build
        # checks for leaks in the other tests.
        sanitizer = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"), "detect_leaks=0"]))
        self.proxy = Proxy(os.path.join(self.folder, "proxy"), shipped_rules=True, shipped_settings=True,
                           env={"ASAN_OPTIONS": sanitizer},
                           under=["strace", "-f", "-qq", "-o", trace, "-e", "trace=" + CALLS])
        poplib._MAXLINE = 1 << 20
        client = poplib.POP3("127.0.0.1", self.proxy.port, timeout=300)
        client.user("alice@127.0.0.1:%d" % self.dovecot.port)
        client.pass_("secret")
        count = client.stat()[0]
        for n in range(1, count + 1):
            client.retr(n)
        client.quit()
        self.assertEqual(self.proxy.stop(), 0)
        self.proxy = None

        with open(trace, errors="replace") as f:
            lines = f.read().splitlines()
        port = "htons(%d)" % self.dovecot.port
        start = next((i for i, line in enumerate(lines) if " connect(" in line and port in line), None)
        self.assertIsNotNone(start, "no connection to the server in the trace")
        creates, flushes, renames = [], [], []
        for line in lines[start:]:
            call = CALL.match(line)
            if not call:
                continue
            name = call.group(1)
            if name in ("open", "openat", "creat"):
                # A new file (a name that did not exist) is what costs.
                if name == "creat" or "O_EXCL" in line or ("O_CREAT" in line and " = -1 " not in line):
                    creates.append(line)
            elif name in ("fsync", "fdatasync", "syncfs"):
                flushes.append(line)
            elif name.startswith("rename"):
                renames.append(line)
        print("\ncollection of %d real messages, shipped rules and settings: %d files opened to be created, "
              "%d flushes, %d renames" % (count, len(creates), len(flushes), len(renames)))
        self.assertGreater(count, MESSAGES // 2, "most of the mail is served")
        self.assertLessEqual(len(creates), CREATE_BUDGET, "\n".join(creates[:60]))
        self.assertLessEqual(len(flushes), FLUSH_BUDGET, "\n".join(flushes[:60]))
        self.assertLessEqual(len(renames), CREATE_BUDGET, "\n".join(renames[:60]))
        state = self.proxy_state()
        self.assertLessEqual(len(state), 10, "the state folder: %s" % sorted(state)[:20])

    def proxy_state(self):
        folder = os.path.join(self.folder, "proxy", "data", "Corvanta Ltd", "Quillfence Pro", "state")
        return os.listdir(folder)


if __name__ == "__main__":
    unittest.main()
