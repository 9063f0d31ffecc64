#!/usr/bin/env python3
"""Runs a command beside a real Dovecot: user alice, password "secret",
STLS on one port and POP3S on another with a certificate for localhost
from a throw-away test CA.  The command finds them in QF_TEST_POP3_PORT,
QF_TEST_POP3S_PORT and QF_TEST_CA; its exit status is this script's."""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
os.environ.setdefault("QUILLFNC", "")   # the e2e modules ask for it; the command here is not quillfnc
from test_dovecot import Dovecot  # noqa: E402
from test_tls import TestPki  # noqa: E402


def main():
    folder = tempfile.mkdtemp(prefix="qf-wizard-")
    os.chmod(folder, 0o755)
    dovecot = None
    try:
        pki = TestPki(folder)
        dovecot = Dovecot(os.path.join(folder, "dovecot"), tls=pki.issue("server", "localhost"))
        env = dict(os.environ, QF_TEST_POP3_PORT=str(dovecot.port), QF_TEST_POP3S_PORT=str(dovecot.tls_port),
                   QF_TEST_CA=pki.ca)
        return subprocess.call(sys.argv[1:], env=env)
    finally:
        if dovecot:
            dovecot.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
