"""Collects a 1,000-message Dovecot mailbox (4 KB messages) through the
proxy (headers only), then retrieves every message through the proxy, and
prints both times beside a direct client (Python's poplib) reading the same
mailbox from Dovecot: its TOP n 0 loop for the collection, its RETR loop for
the retrieval; with the proxy's peak resident memory, and the time the file
system takes to create as many empty files as the proxy makes spools, in
the same folder.  Each collection is
made by a fresh proxy given a second after it starts listening (so that its
start-up is not timed).  The quiet collection and the direct TOP loop are
each timed RUNS times and their medians printed; before each timed part the
machine's unwritten data is written out (sync), so that what earlier jobs
left in the page cache is not charged to the part timed (the collection
ends with a syncfs, which waits for all of the file system's unwritten
data).  Then one collection while a background writer keeps the disk busy
(dd with oflag=sync in a temporary folder, each run bounded), printed as a
ratio to the quiet one.  Then the same over POP3S (Dovecot with a
throw-away test CA), beside a direct POP3S client.  First, one account of
real messages read through the proxy with the shipped rules and settings
beside a direct RETR loop (--shipped-rules: only that), then four accounts
of real messages read together through one proxy with the shipped rules,
beside four direct clients.

Usage: QUILLFNC=build/bin/quillfnc python3 bench/bench_dovecot.py
"""
import os
import poplib
import shutil
import ssl
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from test_dovecot import Dovecot, Proxy  # noqa: E402
from test_tls import TestPki  # noqa: E402
from test_accounts import real_messages  # noqa: E402

COUNT = 1000
# Timed runs of the quiet collection and of the direct TOP loop.
RUNS = 3
# The background writer: dd runs of this many 64 KB blocks, each written
# with O_SYNC, one after the other until the collection ends; never more
# than this many runs, so that the folder stays small and the writer stops
# even if the bench is interrupted.
BUSY_BLOCKS = 160
BUSY_MAX_RUNS = 2000


def message(n):
    body = "".join("Line %04d of message %d, with some ordinary text to fill it.\n" % (i, n)
                   for i in range(60))
    return ("From: sender%d@example.org\nTo: alice@example.org\nSubject: message %d\n"
            "Date: Mon, 7 Dec 2026 12:00:00 +0000\nMessage-Id: <%d@example.org>\n\n%s" % (n, n, n, body))


def retrieve_all(client):
    count = client.stat()[0]
    octets = 0
    for n in range(1, count + 1):
        octets += client.retr(n)[2]
    return count, octets


def top_all(client):
    count = client.stat()[0]
    for n in range(1, count + 1):
        client.top(n, 0)
    return count


def peak_rss_kb(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


class BusyDisk:
    """Keeps the disk busy with synchronous writes from a background thread
    while it is entered; the file lives in folder and is removed after."""

    def __init__(self, folder):
        self.folder = folder
        self.stopping = threading.Event()
        self.runs = 0
        self.thread = threading.Thread(target=self.write)

    def write(self):
        target = os.path.join(self.folder, "busy.bin")
        while not self.stopping.is_set() and self.runs < BUSY_MAX_RUNS:
            subprocess.run(["dd", "if=/dev/zero", "of=" + target, "bs=64k", "count=%d" % BUSY_BLOCKS,
                            "oflag=sync", "status=none"], check=True)
            self.runs += 1
        os.unlink(target)

    def __enter__(self):
        os.makedirs(self.folder)
        self.thread.start()
        time.sleep(1)   # the writer is under way before the timed part
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.thread.join()


def create_time(folder, count):
    """Seconds to create count empty files (exclusively, as the proxy creates
    its spools) in a new subfolder of folder, which is removed after."""
    place = tempfile.mkdtemp(dir=folder)
    try:
        os.sync()
        start = time.perf_counter()
        for n in range(count):
            os.close(os.open(os.path.join(place, "f%05d" % n), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600))
        return time.perf_counter() - start
    finally:
        shutil.rmtree(place)


def median(values):
    return sorted(values)[len(values) // 2]


def timed_collection(proxy, user):
    """Logs in through proxy (the collection runs inside PASS); the client,
    still logged in, and the time the login took."""
    os.sync()
    start = time.perf_counter()
    client = poplib.POP3("127.0.0.1", proxy.port, timeout=600)
    client.user(user)
    client.pass_("secret")
    return client, time.perf_counter() - start


def run(folder, tls):
    """Prints the figures of one run: plain, or POP3S both ways."""
    pki = TestPki(folder) if tls else None
    dovecot = Dovecot(os.path.join(folder, "dovecot"), tls=pki.issue("dovecot", "localhost") if tls else None)
    proxies = []
    try:
        for n in range(COUNT):
            dovecot.deliver(message(n), "%d.m%d" % (100000 + n, n))
        settings = {"TLSCAFILE": '"%s"' % pki.ca} if tls else {}
        user = ("alice@localhost:%d$TLS" % dovecot.tls_port) if tls else ("alice@127.0.0.1:%d" % dovecot.port)

        def direct_client():
            if tls:
                context = ssl.create_default_context(cafile=pki.ca)
                client = poplib.POP3_SSL("localhost", dovecot.tls_port, timeout=120, context=context)
            else:
                client = poplib.POP3("127.0.0.1", dovecot.port, timeout=120)
            client.user("alice")
            client.pass_("secret")
            return client

        os.sync()
        start = time.perf_counter()
        direct = direct_client()
        count, octets = retrieve_all(direct)
        direct.quit()
        direct_time = time.perf_counter() - start

        direct_top_times = []
        for _ in range(RUNS):
            os.sync()
            start = time.perf_counter()
            direct = direct_client()
            top_all(direct)
            direct.quit()
            direct_top_times.append(time.perf_counter() - start)
        direct_top_time = median(direct_top_times)

        # A fresh proxy knows none of the messages: each collects them all.
        # The last one's client goes on to retrieve them.
        collect_times = []
        for run_number in range(RUNS):
            proxies.append(Proxy(os.path.join(folder, "proxy%d" % run_number), settings=settings))
            time.sleep(1)
            client, collect_time = timed_collection(proxies[-1], user)
            collect_times.append(collect_time)
            if run_number + 1 < RUNS:
                client.quit()
                proxies.pop().stop()
        collect_time = median(collect_times)
        os.sync()
        start = time.perf_counter()
        proxied_count, proxied_octets = retrieve_all(client)
        client.quit()
        retrieve_time = time.perf_counter() - start
        rss = peak_rss_kb(proxies[-1].process.pid)
        assert (proxied_count, proxied_octets) == (count, octets), "the proxy served other messages"

        busy_time = None
        if not tls:
            proxies.append(Proxy(os.path.join(folder, "proxy-busy"), settings=settings))
            with BusyDisk(os.path.join(folder, "busy")) as busy:
                client, busy_time = timed_collection(proxies[-1], user)
            client.quit()

        # What the file system alone charges for the spool files, measured
        # beside the proxies' folders after their collections.
        creates = create_time(folder, COUNT)
        kind = "POP3S" if tls else "plain"
        print("%s: messages: %d, %d bytes" % (kind, count, octets))
        print("%s: direct retrieval from Dovecot: %.2f s" % (kind, direct_time))
        print("%s: direct TOP n 0 of every message from Dovecot: %.2f s (median of %s)"
              % (kind, direct_top_time, ", ".join("%.2f" % t for t in direct_top_times)))
        print("%s: collection of headers through the proxy: %.2f s (%.2f times the direct TOP loop; median of %s)"
              % (kind, collect_time, collect_time / direct_top_time, ", ".join("%.2f" % t for t in collect_times)))
        print("%s: the file system alone: %d empty files created in the same folder in %.2f s"
              % (kind, COUNT, creates))
        if busy_time is not None:
            print("%s: collection of headers through the proxy, disk busy (%d dd runs): %.2f s "
                  "(%.2f times the quiet collection)" % (kind, busy.runs, busy_time, busy_time / collect_time))
        print("%s: retrieval through the proxy: %.2f s (%.2f times direct retrieval)"
              % (kind, retrieve_time, retrieve_time / direct_time))
        print("%s: proxy peak resident memory: %d KB" % (kind, rss))
    finally:
        for proxy in proxies:
            proxy.stop()
        dovecot.stop()


def shipped_rules(folder):
    """One account of COUNT real messages (the developers' corpus when it is
    there, half spam and half wanted mail), read by a client that logs in
    and retrieves every message: directly from Dovecot, then through a fresh
    proxy with the shipped rules and settings (each RUNS times, a new proxy
    each time).  Prints the medians of the time from PASS to the last RETR,
    and the proxy's peak memory and state folder after its collection.
    QF_STRACE_OUT, when set, is a file for strace's count of the proxy's
    system calls during its session."""
    dovecot = Dovecot(os.path.join(folder, "dovecot"))
    proxy = None
    try:
        texts = real_messages(COUNT)
        for n, text in enumerate(texts):
            dovecot.deliver(text, "%d.m%d" % (100000 + n, n))
        poplib._MAXLINE = 1 << 20

        def read(port, user):
            client = poplib.POP3("127.0.0.1", port, timeout=600)
            client.user(user)
            os.sync()
            start = time.perf_counter()
            client.pass_("secret")
            login = time.perf_counter() - start
            count, octets = retrieve_all(client)
            elapsed = time.perf_counter() - start
            client.quit()
            return count, octets, login, elapsed

        # Dovecot builds its index of the new mailbox on the first read: that
        # read is not timed, for neither side pays it later.
        read(dovecot.port, "alice")
        direct = [read(dovecot.port, "alice") for _ in range(RUNS)]
        direct_time = median([d[3] for d in direct])
        # A fresh proxy for each run: each collects every message anew.
        runs = []
        for run_number in range(RUNS):
            proxy = Proxy(os.path.join(folder, "proxy%d" % run_number), shipped_rules=True, shipped_settings=True)
            time.sleep(1)
            tracer = None
            if os.environ.get("QF_STRACE_OUT") and run_number == 0:
                tracer = subprocess.Popen(["strace", "-f", "-c", "-o", os.environ["QF_STRACE_OUT"], "-p",
                                           str(proxy.process.pid)], stderr=subprocess.DEVNULL)
                time.sleep(1)
            count, octets, login, elapsed = read(proxy.port, "alice@127.0.0.1:%d" % dovecot.port)
            if tracer:
                tracer.send_signal(2)
                tracer.wait()
            rss = peak_rss_kb(proxy.process.pid)
            time.sleep(1)   # the session's end, after QUIT
            files, size = 0, 0
            for name in os.listdir(proxy.state):
                try:
                    size += os.path.getsize(os.path.join(proxy.state, name))
                    files += 1
                except FileNotFoundError:
                    pass   # a file of the session's that it has just removed
            runs.append((elapsed, login, count, rss, files, size))
            proxy.stop()
            proxy = None
        elapsed, login, count, rss, files, size = sorted(runs)[len(runs) // 2]
        print("shipped rules: %d real messages, %d bytes, one account (shipped rules and settings)"
              % (COUNT, sum(len(t) for t in texts)))
        print("shipped rules: direct RETR loop from Dovecot, PASS to last RETR: %.2f s (median of %s)"
              % (direct_time, ", ".join("%.2f" % d[3] for d in direct)))
        print("shipped rules: through the proxy, PASS to last RETR: %.2f s (%.2f times direct; median of %s); "
              "PASS alone %.2f s; %d messages served"
              % (elapsed, elapsed / direct_time, ", ".join("%.2f" % r[0] for r in runs), login, count))
        print("shipped rules: proxy peak resident memory: %d KB; state folder: %d files, %d bytes"
              % (rss, files, size))
    finally:
        if proxy:
            proxy.stop()
        dovecot.stop()


ACCOUNTS = 4


def several_accounts(folder):
    """Four accounts of COUNT real messages each (the developers' corpus
    when it is there), read together by four clients that log in and
    retrieve every message: directly from Dovecot, then through one proxy
    with the shipped rules and settings.  Prints both wall times."""
    users = ["u%d" % (a + 1) for a in range(ACCOUNTS)]
    dovecot = Dovecot(os.path.join(folder, "dovecot"), users=users)
    proxy = None
    try:
        texts = real_messages(COUNT * ACCOUNTS)
        for a, user in enumerate(users):
            for n in range(COUNT):
                dovecot.deliver(texts[a * COUNT + n], "%d.m%d" % (100000 + n, n), user)
        poplib._MAXLINE = 1 << 20

        def together(port, login):
            results = [None] * ACCOUNTS

            def read(a):
                started = time.perf_counter()
                client = poplib.POP3("127.0.0.1", port, timeout=60)
                greeted = time.perf_counter() - started
                client.user(login(users[a]))
                client.pass_("secret")
                count, _ = retrieve_all(client)
                client.quit()
                results[a] = (count, greeted, time.perf_counter() - started)

            os.sync()
            start = time.perf_counter()
            threads = [threading.Thread(target=read, args=(a,)) for a in range(ACCOUNTS)]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            return time.perf_counter() - start, results

        direct_time, direct = together(dovecot.port, lambda user: user)
        proxy = Proxy(os.path.join(folder, "proxy"), shipped_rules=True, shipped_settings=True)
        time.sleep(1)
        proxied_time, proxied = together(proxy.port, lambda user: "%s@127.0.0.1:%d" % (user, dovecot.port))
        assert all(r is not None for r in proxied), "a client through the proxy failed"
        print("several accounts: %d accounts of %d messages read together (shipped rules and settings)"
              % (ACCOUNTS, COUNT))
        print("several accounts: direct from Dovecot: %.2f s; each client %s s"
              % (direct_time, ", ".join("%.2f" % r[2] for r in direct)))
        print("several accounts: through the proxy: %.2f s (%.2f times direct); each client %s s; "
              "greetings after %s s; messages %s"
              % (proxied_time, proxied_time / direct_time, ", ".join("%.2f" % r[2] for r in proxied),
                 ", ".join("%.2f" % r[1] for r in proxied), ", ".join(str(r[0]) for r in proxied)))
    finally:
        if proxy:
            proxy.stop()
        dovecot.stop()


def main():
    for part in (shipped_rules, several_accounts):
        folder = tempfile.mkdtemp(prefix="qfbench.")
        os.chmod(folder, 0o755)
        try:
            part(folder)
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        if "--shipped-rules" in sys.argv:
            return
    for tls in (False, True):
        folder = tempfile.mkdtemp(prefix="qfbench.")
        os.chmod(folder, 0o755)
        try:
            run(folder, tls)
        finally:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
