"""The shipped rules, as a user gets them: the built quillfnc installs its
rules/ folder into a fresh data root on the first run, and rates the
fixture messages of tests/data/rules with them.

Each fixture NAME.eml has NAME.expected beside it, one fact a line:
    fires RULE     the shipped rule RULE fires on the message
    quiet RULE     it does not ("quiet all": no shipped rule fires)
    band 1         rated with every rule in the shipped order, the message
    band 3-5       lands in band 1, or in one of bands 3 to 5
Lines starting with "#" say what the message shows.

Every rating run's data root has first learned a small made-up mail
(made_up_mail), so that the learning classifier's rule can fire.

quillfnc -rate prints only the first decision line of a message, so each
rule is rated on its own account: the setting RuleOrder puts it first, and
it fired exactly when the first decision names it.
"""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

QUILLFNC = os.environ["QUILLFNC"]
PROGRAM_RULES = os.path.join(os.path.dirname(QUILLFNC), "rules")
FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "rules")


def shipped_rule_names():
    """The names of the #rule blocks of the program's system.sfr, in order."""
    with open(os.path.join(PROGRAM_RULES, "system.sfr"), encoding="latin-1") as f:
        return re.findall(r'^#rule\s+"([^"]+)"', f.read(), re.M | re.I)


def read_fixtures():
    """{fixture path: {"fires": set, "quiet": set, "band": str or None}}."""
    fixtures = {}
    for name in sorted(os.listdir(FIXTURES)):
        if not name.endswith(".eml"):
            continue
        path = os.path.join(FIXTURES, name)
        facts = {"fires": set(), "quiet": set(), "band": None}
        with open(path[:-4] + ".expected", encoding="utf-8") as f:
            for line in f:
                line = line.strip()
                if not line or line.startswith("#"):
                    continue
                kind, _, value = line.partition(" ")
                if kind in ("fires", "quiet"):
                    facts[kind].add(value)
                elif kind == "band":
                    facts["band"] = value
                else:
                    raise ValueError("%s.expected: unknown fact %r" % (name[:-4], line))
        fixtures[path] = facts
    return fixtures


def made_up_mail(folder):
    """A small mail of the fixtures' own for the learning classifier: 60
    offers of replica watches as spam and 60 notes of a garden club as ham,
    written into folder/spam and folder/ham.  Both kinds have the same
    header fields, and their words are their own, so that the classifier
    knows nothing of the other fixtures (they stay at probability 50) and
    "Learned from your mail" fires only on a message like the spam."""
    for kind, subject, body in (
            ("spam", "Luxury replica watches %d", "Replica watches at a discount: luxury brands, order today. %d"),
            ("ham", "Garden club notes %d", "The garden club meets on Thursday: roses, compost and seedlings. %d")):
        os.makedirs(os.path.join(folder, kind))
        for n in range(60):
            with open(os.path.join(folder, kind, "%d.eml" % n), "w", encoding="latin-1", newline="") as f:
                f.write("From: Member %d <member%d@example.com>\r\nTo: me@example.net\r\nSubject: %s\r\n"
                        "Date: Sat, 05 Jul 2003 09:51:33 +0100\r\n\r\n%s\r\n" % (n, n, subject % n, body % n))


def hive_text(rule_order):
    """The shipped settings, with RuleOrder naming rule_order first."""
    with open(os.path.join(os.path.dirname(QUILLFNC), "default.dat"), "rb") as f:
        lines = f.read().decode("latin-1").split("\r\n")
    if rule_order is not None:
        # Hive texts are quoted, with '"', '%' and bytes outside printable
        # ASCII written as %xx.
        encoded = "".join(c if 0x20 <= ord(c) < 0x7F and c not in '"%' else "%%%02x" % ord(c)
                          for c in rule_order)
        lines.insert(lines.index("~"), '"/RULEORDER" = {"%s"}' % encoded)
    return "\r\n".join(lines)


class Rating:
    """One quillfnc -rate run with a fresh data root."""

    def __init__(self, folder, paths, rule_order=None, mail=None):
        self.home = tempfile.mkdtemp(dir=folder)
        config = os.path.join(self.home, "Corvanta Ltd", "config")
        os.makedirs(config)
        with open(os.path.join(config, "quilfpro_usr.dat"), "w", encoding="latin-1", newline="") as f:
            f.write(hive_text(rule_order))
        env = dict(os.environ, XDG_DATA_HOME=self.home, XDG_RUNTIME_DIR=self.home,
                   QUILLFENCE_COMMON_ROOT=os.path.join(self.home, "common"))
        for kind in ("spam", "ham") if mail else ():
            learned = subprocess.run([QUILLFNC, "-learn", kind, os.path.join(mail, kind)], env=env,
                                     capture_output=True, timeout=120, encoding="latin-1")
            if learned.returncode != 0:
                raise AssertionError("quillfnc -learn failed (%d): %s" % (learned.returncode, learned.stderr))
        done = subprocess.run([QUILLFNC, "-rate"] + paths, env=env, capture_output=True,
                              timeout=120, encoding="latin-1")
        if done.returncode != 0:
            raise AssertionError("quillfnc -rate failed (%d): %s" % (done.returncode, done.stderr))
        self.root = os.path.join(self.home, "Corvanta Ltd", "Quillfence Pro")
        # path -> (band, first decision line)
        self.lines = {}
        for line in done.stdout.splitlines():
            parts = line.split("\t")
            if len(parts) == 4:
                self.lines[parts[0]] = (int(parts[1].split()[1]), parts[3])

    def log(self):
        text = ""
        folder = os.path.join(self.root, "log")
        for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
            with open(os.path.join(folder, name), encoding="latin-1") as f:
                text += f.read()
        return text


class ShippedRules(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp()
        cls.rules = shipped_rule_names()
        cls.fixtures = read_fixtures()
        paths = list(cls.fixtures)
        mail = os.path.join(cls.folder, "mail")
        made_up_mail(mail)
        # In the shipped order, for the bands.
        cls.shipped = Rating(cls.folder, paths, mail=mail)
        # Each rule first in its own run: fired[rule][path] is a truth.
        cls.fired = {}
        cls.logs = {}
        for rule in cls.rules:
            run = Rating(cls.folder, paths, rule, mail)
            cls.logs[rule] = run.log()
            prefix = "Rule '%s' detected spam" % rule
            cls.fired[rule] = {path: run.lines[path][1].startswith(prefix) for path in paths if path in run.lines}
            for path in paths:
                if path not in run.lines:
                    raise AssertionError("no rating of %s in the run for %s" % (path, rule))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def test_first_run_installs_the_shipped_rules_and_lists(self):
        installed = os.path.join(self.shipped.root, "rules")
        for name in sorted(os.listdir(PROGRAM_RULES)):
            with self.subTest(file=name):
                with open(os.path.join(PROGRAM_RULES, name), "rb") as f:
                    shipped = f.read()
                target = os.path.join(installed, name)
                self.assertTrue(os.path.isfile(target), "%s not installed in %s" % (name, installed))
                with open(target, "rb") as f:
                    self.assertEqual(f.read(), shipped, "%s installed differs from the shipped one" % name)
        self.assertGreaterEqual(len(self.rules), 20, "got %d shipped rules, want a full set" % len(self.rules))

    def test_every_shipped_rule_compiles_and_runs_without_error(self):
        # A rating run logs errors only: a rule that did not compile ("Rule
        # 'X' not initialised") or that failed while it ran.
        for rule in [None] + self.rules:
            with self.subTest(rule=rule):
                log = self.shipped.log() if rule is None else self.logs[rule]
                self.assertNotIn("not initialised", log)
                self.assertEqual(log, "", "got event log lines, want none")

    def test_every_shipped_rule_states_a_rating_no_rule_condemns_alone(self):
        # A rule without a rating would add 5.0 points; the shipped rules are
        # rated from 0.1 to 3.5, so that band 3 (above 4.0) takes two kinds
        # of evidence.
        with open(os.path.join(PROGRAM_RULES, "system.sfr"), encoding="latin-1") as f:
            ratings = dict(re.findall(r'^#rule\s+"([^"]+)"[ \t]*(\d*)', f.read(), re.M | re.I))
        for rule in self.rules:
            with self.subTest(rule=rule):
                self.assertNotEqual(ratings[rule], "", "got no rating, want one")
                self.assertTrue(1 <= int(ratings[rule]) <= 35, "got rating %s, want 1 to 35" % ratings[rule])

    def test_every_shipped_rule_has_a_fixture_that_shows_it(self):
        shown = set()
        for facts in self.fixtures.values():
            shown |= facts["fires"]
        self.assertEqual(sorted(set(self.rules) - shown), [], "shipped rules without a fixture")
        self.assertEqual(sorted(shown - set(self.rules)), [], "fixtures name rules that are not shipped")

    def test_each_fixture_fires_its_rules_and_no_others_it_names(self):
        for path, facts in self.fixtures.items():
            name = os.path.basename(path)
            quiet = set(self.rules) if "all" in facts["quiet"] else facts["quiet"]
            for rule in sorted(facts["fires"]):
                with self.subTest(fixture=name, fires=rule):
                    self.assertTrue(self.fired[rule][path], "%s: got no decision of '%s', want one" % (name, rule))
            for rule in sorted(quiet):
                with self.subTest(fixture=name, quiet=rule):
                    self.assertFalse(self.fired[rule][path], "%s: got a decision of '%s', want none" % (name, rule))

    def test_bands_in_the_shipped_order(self):
        checked = 0
        for path, facts in self.fixtures.items():
            if facts["band"] is None:
                continue
            checked += 1
            band, decision = self.shipped.lines[path]
            with self.subTest(fixture=os.path.basename(path)):
                if facts["band"] == "1":
                    self.assertEqual(band, 1, "got band %d (%s), want band 1" % (band, decision))
                else:
                    self.assertIn(band, (3, 4, 5), "got band %d (%s), want bands 3 to 5" % (band, decision))
        self.assertGreater(checked, 0, "no fixture states a band")


if __name__ == "__main__":
    unittest.main()
