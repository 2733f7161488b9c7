#!/usr/bin/env python3
"""The Debian package as a user and as Debian's tools meet it.

Usage: package_test.py lintian|contents|lifecycle <velto_VERSION_amd64.deb>

lintian:   Debian's checker finds no error, and no warning but the ones
           docs/debian-package.md explains.
contents:  the files, their modes and owners, the control fields, a stripped
           client, the documentation files.
lifecycle: in a throw-away root, an older package is installed and upgraded
           to this one; the installed client is started on the test display
           (Scripts/with-display, with the local server of
           Scripts/with-test-server), keeps its geometry in its own
           configuration directory and exits 0 when closed; removing and
           purging leave nothing of the package behind and the user's
           directory as it was."""

import gzip
import json
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

# The client's script tests' helpers: bounded polling, the skip exit code.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "App", "Tests"))
from client_window_wine import SKIPPED, eventually  # noqa: E402

MODE = sys.argv[1] if len(sys.argv) > 1 else ""
DEB = sys.argv[2] if len(sys.argv) > 2 else ""
VERSION = re.sub(r"^velto_(.*)_amd64\.deb$", r"\1", os.path.basename(DEB))

ICON_SIZES = (16, 32, 48, 128, 256)
FILES = {
    "usr/bin/velto": 0o755,
    "usr/share/applications/velto.desktop": 0o644,
    "usr/share/doc/velto/changelog.gz": 0o644,
    "usr/share/doc/velto/copyright": 0o644,
    "usr/share/man/man1/velto.1.gz": 0o644,
}
FILES.update({"usr/share/icons/hicolor/%dx%d/apps/velto.png" % (s, s): 0o644 for s in ICON_SIZES})

# Warnings that stay, each explained under "Lintian" in docs/debian-package.md.
ACCEPTED_WARNINGS = set()

# The libraries the client is built on: their packages must come from the
# binary's dependencies (dpkg-shlibdeps), with a minimum version.
LINKED_PACKAGES = ("libc6", "libgtk-3-0", "libwebkit2gtk-4.1-0", "libcurl4", "libcanberra-gtk3-0")
# libsodium only where the client verifies updaters: a build without an
# update key has no use for it, and the linker drops it.
SODIUM = ("libsodium.so.", "libsodium23")


def run(*args, check=True, timeout=120, **kwargs):
    result = subprocess.run(args, capture_output=True, text=True, timeout=timeout, **kwargs)
    if check and result.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s%s" % (" ".join(args), result.returncode, result.stdout,
                                                       result.stderr))
    return result


def field(deb, name):
    return run("dpkg-deb", "-f", deb, name).stdout.strip()


def directories_of(paths):
    dirs = set()
    for path in paths:
        parts = path.split("/")[:-1]
        dirs.update("/".join(parts[:i]) for i in range(1, len(parts) + 1))
    return dirs


class Lintian(unittest.TestCase):
    def test_no_errors_and_only_explained_warnings(self):
        # Lintian says so on stderr when run as root; that is not a finding.
        result = run("lintian", "--fail-on", "none", "--no-tag-display-limit", DEB, timeout=280)
        tags = re.findall(r"^([EW]): velto(?: \w+)?: (\S+)", result.stdout, re.MULTILINE)
        errors = [t for kind, t in tags if kind == "E"]
        unexplained = [t for kind, t in tags if kind == "W" and t not in ACCEPTED_WARNINGS]
        self.assertEqual(errors, [], result.stdout)
        self.assertEqual(unexplained, [], result.stdout)


class Contents(unittest.TestCase):
    def test_files_modes_and_owners(self):
        listing = run("dpkg-deb", "-c", DEB).stdout.splitlines()
        seen = {}
        for line in listing:
            mode, owner, _size, _date, _time, path = line.split(None, 5)
            path = path.removeprefix("./").rstrip("/")
            self.assertEqual(owner, "root/root", line)
            if path:
                seen[path] = mode
        expected_dirs = directories_of(FILES)
        self.assertEqual(set(seen), set(FILES) | expected_dirs, "exactly the client's files and their directories")
        for path in expected_dirs:
            self.assertEqual(seen[path], "drwxr-xr-x", path)
        for path, mode in FILES.items():
            self.assertEqual(seen[path], stat.filemode(stat.S_IFREG | mode), path)

    def test_control_fields(self):
        self.assertEqual(field(DEB, "Package"), "velto")
        self.assertEqual(field(DEB, "Version"), VERSION)
        self.assertEqual(field(DEB, "Architecture"), "amd64")
        self.assertEqual(field(DEB, "Section"), "net")
        self.assertEqual(field(DEB, "Priority"), "optional")
        self.assertRegex(field(DEB, "Maintainer"), r"^[^<>]+ <[^@<>\s]+@[^@<>\s]+>$")
        self.assertRegex(field(DEB, "Homepage"), r"^https://")
        description = field(DEB, "Description").splitlines()
        self.assertGreater(len(description), 2, "a synopsis and a long description")
        self.assertLessEqual(len(description[0]), 80)
        self.assertNotRegex(field(DEB, "Description"), r"&\w+;", "text as written, no markup escapes")

    def test_dependencies_come_from_the_binary_and_hold_here(self):
        depends = [group.strip() for group in field(DEB, "Depends").split(",")]
        names = {re.match(r"[\w.+-]+", group).group(0): group for group in depends}
        with tempfile.TemporaryDirectory() as tree:
            run("dpkg-deb", "-x", DEB, tree)
            needed = run("readelf", "-d", "-W", os.path.join(tree, "usr/bin/velto")).stdout
        expected = LINKED_PACKAGES + ((SODIUM[1],) if SODIUM[0] in needed else ())
        if SODIUM[0] not in needed:
            self.assertNotIn(SODIUM[1], names, "no dependency the client does not use")
        for package in expected:
            self.assertIn(package, names, "Depends: %s" % depends)
            self.assertRegex(names[package], r"\(>= [^)]+\)", "a minimum version from the symbols file")
        # This machine built the client and runs it: every dependency is met.
        for group in depends:
            alternatives = [a.strip() for a in group.split("|")]
            self.assertTrue(any(self.installed(a) for a in alternatives), group)

    @staticmethod
    def installed(dependency):
        match = re.fullmatch(r"([\w.+-]+)(?::\w+)?(?: \((\S+) (\S+)\))?", dependency)
        name, relation, version = match.groups()
        # One line per installed architecture of the package.
        query = run("dpkg-query", "-W", "-f", "${Status}\t${Version}\n", name, check=False)
        ops = {">=": "ge", "<=": "le", "=": "eq", ">>": "gt", "<<": "lt"}
        for line in query.stdout.splitlines():
            status, have = line.split("\t")
            if status == "install ok installed" and (
                    not relation or
                    run("dpkg", "--compare-versions", have, ops[relation], version, check=False).returncode == 0):
                return True
        return False

    def test_client_stripped_and_documents_in_debian_form(self):
        with tempfile.TemporaryDirectory(prefix="velto-deb-") as tree:
            run("dpkg-deb", "-x", DEB, tree)
            sections = run("readelf", "-S", "-W", os.path.join(tree, "usr/bin/velto")).stdout
            self.assertFalse(".symtab" in sections or ".debug_" in sections, "the client is not stripped")
            for name in ("usr/share/man/man1/velto.1.gz", "usr/share/doc/velto/changelog.gz"):
                with open(os.path.join(tree, name), "rb") as packed:
                    header = packed.read(10)
                # gzip -n: no file name and no time stamp, so builds repeat.
                self.assertEqual(header[3] & 0x08, 0, name)
                self.assertEqual(header[4:8], b"\0\0\0\0", name)
            with gzip.open(os.path.join(tree, "usr/share/doc/velto/changelog.gz"), "rt") as changelog:
                self.assertTrue(changelog.readline().startswith("velto (%s) " % VERSION))
            with gzip.open(os.path.join(tree, "usr/share/man/man1/velto.1.gz"), "rt") as page:
                text = page.read()
            self.assertIn('"Velto %s"' % VERSION, text)
            self.assertNotIn("@", text.replace("@velto", ""), "every CMake placeholder filled in")
            with open(os.path.join(tree, "usr/share/doc/velto/copyright")) as copyright_file:
                self.assertTrue(copyright_file.readline().startswith(
                    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"))


class Lifecycle(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="velto-deb-")
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        self.root = os.path.join(self.work, "root")
        self.admin = os.path.join(self.root, "var/lib/dpkg")
        # A dpkg database of its own: nothing is installed in this root.
        for sub in ("info", "updates", "triggers"):
            os.makedirs(os.path.join(self.admin, sub))
        for name in ("status", "available"):
            open(os.path.join(self.admin, name), "w").close()
        self.home = os.path.join(self.root, "home/tester")
        self.config = os.path.join(self.home, ".config")
        self.app_dir = os.path.join(self.config, "VeltoChat")

    def dpkg(self, *args):
        # --force-depends: the root's database has none of the libraries the
        # client needs; they are this machine's (Contents checks they meet
        # the dependencies).
        return run("dpkg", "--root=" + self.root, "--force-not-root", "--force-depends",
                   "--log=" + os.path.join(self.work, "dpkg.log"), *args)

    def status(self):
        query = run("dpkg-query", "--admindir=" + self.admin, "-W", "-f", "${Version} ${db:Status-Abbrev}", "velto",
                    check=False)
        return query.stdout.strip() if query.returncode == 0 else ""

    def older_package(self):
        """This package as an older version that also had a 64x64 icon."""
        tree = os.path.join(self.work, "older")
        run("dpkg-deb", "-R", DEB, tree)
        control = os.path.join(tree, "DEBIAN/control")
        with open(control) as f:
            text = f.read()
        with open(control, "w") as f:
            f.write(re.sub(r"^Version: .*$", "Version: %s~older" % VERSION, text, flags=re.MULTILINE))
        icon = "usr/share/icons/hicolor/64x64/apps/velto.png"
        os.makedirs(os.path.dirname(os.path.join(tree, icon)))
        shutil.copy(os.path.join(tree, "usr/share/icons/hicolor/48x48/apps/velto.png"), os.path.join(tree, icon))
        with open(os.path.join(tree, "DEBIAN/md5sums"), "a") as sums:
            sums.write(run("md5sum", icon, cwd=tree).stdout)
        older = os.path.join(self.work, "velto_%s~older_amd64.deb" % VERSION)
        run("dpkg-deb", "--root-owner-group", "-b", tree, older)
        return older, icon

    def installed_files(self):
        listed = run("dpkg-query", "--admindir=" + self.admin, "-L", "velto").stdout.splitlines()
        return {p.lstrip("/") for p in listed if os.path.isfile(os.path.join(self.root, p.lstrip("/")))}

    def start_installed_client(self):
        env = dict(os.environ)
        env.update(HOME=self.home, XDG_CONFIG_HOME=self.config, XDG_DATA_HOME=os.path.join(self.home, ".local/share"),
                   XDG_CACHE_HOME=os.path.join(self.home, ".cache"), TMPDIR=os.path.join(self.work, "tmp"))
        os.makedirs(env["TMPDIR"], exist_ok=True)
        os.makedirs(self.home, exist_ok=True)
        log = open(os.path.join(self.work, "client.log"), "w")
        self.addCleanup(log.close)
        client = subprocess.Popen([os.path.join(self.root, "usr/bin/velto")], env=env, stdout=log, stderr=log,
                                  stdin=subprocess.DEVNULL)
        self.addCleanup(self.stop, client)
        return client

    @staticmethod
    def stop(client):
        if client.poll() is None:
            client.kill()
            client.wait(timeout=10)

    @staticmethod
    def chat_loaded():
        # The page's beacon, recorded by the local server (Server/README.md).
        url = "https://localhost:%s/test/beacons" % os.environ["VELTO_TEST_SERVER_PORT"]
        answer = run("curl", "-sS", "--max-time", "10", url, check=False).stdout
        return answer.startswith("[") and any(b.get("event") == "load" for b in json.loads(answer))

    @staticmethod
    def window_of(pid):
        found = run("xdotool", "search", "--onlyvisible", "--pid", str(pid), check=False).stdout.split()
        return found[0] if found else None

    def test_upgrade_run_remove_and_purge(self):
        if not os.environ.get("DISPLAY"):
            self.skipTest("needs the test display (Scripts/with-display)")

        older, old_icon = self.older_package()
        self.dpkg("-i", older)
        self.assertEqual(self.status(), "%s~older ii" % VERSION)
        self.assertTrue(os.path.isfile(os.path.join(self.root, old_icon)))

        self.dpkg("-i", DEB)
        self.assertEqual(self.status(), "%s ii" % VERSION, "upgraded")
        self.assertFalse(os.path.exists(os.path.join(self.root, old_icon)), "a file only the old version had")
        self.assertEqual(self.installed_files(), set(FILES))
        for path, mode in FILES.items():
            info = os.lstat(os.path.join(self.root, path))
            self.assertTrue(stat.S_ISREG(info.st_mode), path)
            self.assertEqual(stat.S_IMODE(info.st_mode), mode, path)
            if os.geteuid() == 0:
                self.assertEqual((info.st_uid, info.st_gid), (0, 0), path)
        for path in directories_of(FILES):
            self.assertEqual(stat.S_IMODE(os.stat(os.path.join(self.root, path)).st_mode), 0o755, path)

        # The installed client, as a user starts it.
        client = self.start_installed_client()
        window = eventually(lambda: client.poll() is None and self.window_of(client.pid), timeout=90)
        self.assertTrue(window, "the installed client's window did not appear (exit code %s)" % client.poll())
        title = run("xdotool", "getwindowname", window).stdout.strip()
        self.assertEqual(title, "Velto Чат")
        if os.environ.get("VELTO_TEST_SERVER_PORT"):
            self.assertTrue(eventually(self.chat_loaded, timeout=90), "the chat page did not load in the client")
        run("wmctrl", "-ic", window)
        self.assertEqual(client.wait(timeout=30), 0)
        settings_path = os.path.join(self.app_dir, "WindowSettings.ini")
        with open(settings_path, "rb") as f:
            settings = f.read()
        text = settings.decode("utf-8-sig")
        geometry = {k: int(v) for k, v in re.findall(r"^(Window\w+) = (-?\d+)\r$", text, re.MULTILINE)}
        self.assertEqual(set(geometry), {"WindowX", "WindowY", "WindowWidth", "WindowHeight"}, text)
        self.assertEqual((geometry["WindowWidth"], geometry["WindowHeight"]), (400, 700), "the default size")
        self.assertTrue(os.path.isdir(os.path.join(self.app_dir, "WebView2Data")))
        user_files = self.tree(self.home)

        self.dpkg("-r", "velto")
        self.assertFalse(os.path.exists(os.path.join(self.root, "usr/bin/velto")))
        self.dpkg("-P", "velto")
        self.assertEqual(self.status(), "", "purged")
        left = {p for p in self.tree(self.root) if not p.startswith(("var/lib/dpkg/", "home/"))}
        self.assertEqual(left, {"var", "var/lib", "var/lib/dpkg", "home"}, "nothing of the package is left")
        # The browser's own processes may still add to its data for a moment
        # after the client has ended; what counts is that nothing is taken.
        self.assertLessEqual(user_files, self.tree(self.home), "the user's files stay")
        with open(settings_path, "rb") as f:
            self.assertEqual(f.read(), settings)

    @staticmethod
    def tree(top):
        paths = set()
        for base, dirs, files in os.walk(top):
            for name in dirs + files:
                paths.add(os.path.relpath(os.path.join(base, name), top))
        return paths


if __name__ == "__main__":
    cases = {"lintian": Lintian, "contents": Contents, "lifecycle": Lifecycle}
    if MODE not in cases or not DEB:
        sys.exit(__doc__)
    if not os.path.isfile(DEB):
        sys.exit("no package at %s (the test package_build makes it)" % DEB)
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(cases[MODE])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    # Skipped, for CTest (SKIP_RETURN_CODE).
    sys.exit(1 if not result.wasSuccessful() else SKIPPED if result.skipped else 0)
