"""Collects a 1,000-message Dovecot mailbox (4 KB messages) through the
proxy (headers only), then retrieves every message through the proxy, and
prints both times beside a direct retrieval from Dovecot by the same client
(Python's poplib), with the proxy's peak resident memory; then the same over
POP3S (Dovecot with a throw-away test CA), beside a direct POP3S client.

Usage: QUILLFNC=build/bin/quillfnc python3 bench/bench_dovecot.py
"""
import os
import poplib
import shutil
import ssl
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from test_dovecot import Dovecot, Proxy  # noqa: E402
from test_tls import TestPki  # noqa: E402

COUNT = 1000


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


def peak_rss_kb(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def run(folder, tls):
    """Prints the figures of one run: plain, or POP3S both ways."""
    pki = TestPki(folder) if tls else None
    dovecot = Dovecot(os.path.join(folder, "dovecot"), tls=pki.issue("dovecot", "localhost") if tls else None)
    proxy = None
    try:
        for n in range(COUNT):
            dovecot.deliver(message(n), "%d.m%d" % (100000 + n, n))
        settings = {"TLSCAFILE": '"%s"' % pki.ca} if tls else {}
        proxy = Proxy(os.path.join(folder, "proxy"), settings=settings)
        user = ("alice@localhost:%d$TLS" % dovecot.tls_port) if tls else ("alice@127.0.0.1:%d" % dovecot.port)

        start = time.perf_counter()
        if tls:
            context = ssl.create_default_context(cafile=pki.ca)
            direct = poplib.POP3_SSL("localhost", dovecot.tls_port, timeout=120, context=context)
        else:
            direct = poplib.POP3("127.0.0.1", dovecot.port, timeout=120)
        direct.user("alice")
        direct.pass_("secret")
        count, octets = retrieve_all(direct)
        direct.quit()
        direct_time = time.perf_counter() - start

        start = time.perf_counter()
        client = poplib.POP3("127.0.0.1", proxy.port, timeout=600)
        client.user(user)
        client.pass_("secret")   # the collection runs inside PASS
        collect_time = time.perf_counter() - start
        start = time.perf_counter()
        proxied_count, proxied_octets = retrieve_all(client)
        client.quit()
        retrieve_time = time.perf_counter() - start
        rss = peak_rss_kb(proxy.process.pid)

        assert (proxied_count, proxied_octets) == (count, octets), "the proxy served other messages"
        kind = "POP3S" if tls else "plain"
        print("%s: messages: %d, %d bytes" % (kind, count, octets))
        print("%s: direct retrieval from Dovecot: %.2f s" % (kind, direct_time))
        print("%s: collection of headers through the proxy: %.2f s (ratio to direct retrieval %.2f)"
              % (kind, collect_time, direct_time / collect_time))
        print("%s: retrieval through the proxy: %.2f s (ratio to direct retrieval %.2f)"
              % (kind, retrieve_time, direct_time / retrieve_time))
        print("%s: proxy peak resident memory: %d KB" % (kind, rss))
    finally:
        if proxy:
            proxy.stop()
        dovecot.stop()


def main():
    for tls in (False, True):
        folder = tempfile.mkdtemp(prefix="qfbench.")
        os.chmod(folder, 0o755)
        try:
            run(folder, tls)
        finally:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
