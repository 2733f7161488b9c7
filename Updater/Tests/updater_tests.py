#!/usr/bin/env python3
"""The real updater against the real local HTTPS server, with stand-ins for
apt-get, pkexec and the client, found through PATH.

Usage: updater_tests.py <updater> <updater built with the test key> <velto_server.py>
                        <Scripts/trusted> <the test key's private half>"""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
from pathlib import Path

UPDATER, SIGNED_UPDATER, SERVER, TRUSTED, SIGNING_KEY = (sys.argv[1:6] + [""] * 5)[:5]
PACKAGE_PATH = "/uploads/chat_files/velto_web-chat_client-linux.tar.gz"
START_TIMEOUT_S = 60
RUN_TIMEOUT_S = 120
POLL_S = 0.05

APT_GET = """#!/bin/sh
# Notes how it was started and what it was given, as apt-get would get it.
{ echo "cwd=$PWD"; echo "args=$*"; } > "$VELTO_TEST_RECORD/apt-get.txt"
for last; do :; done
cp -- "$last" "$VELTO_TEST_RECORD/installed.deb"
if kill -0 "$VELTO_TEST_CLIENT_PID" 2>/dev/null; then echo alive > "$VELTO_TEST_RECORD/client-alive"; fi
exit "${VELTO_TEST_INSTALL_STATUS:-0}"
"""
PKEXEC = """#!/bin/sh
echo "$*" > "$VELTO_TEST_RECORD/pkexec.txt"
exec "$@"
"""
CLIENT = """#!/bin/sh
echo "$*" > "$VELTO_TEST_RECORD/client-started"
"""
# Registered as the desktop's handler for .deb files.
HANDLER = """#!/bin/sh
echo "$*" > "$VELTO_TEST_RECORD/handler.txt"
"""
DEB_TYPE = "application/vnd.debian.binary-package"
NOBODY = 65534


def eventually(condition, timeout=RUN_TIMEOUT_S):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(POLL_S)
    return condition()


def write_program(path, text):
    Path(path).write_text(text)
    os.chmod(path, 0o755)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class LocalServer:
    """The bundled server on a free loopback port with a CA of its own."""

    def __init__(self, script, trusted, work, *args):
        self.trusted = trusted
        ready = os.path.join(work, "ready.json")
        self.process = subprocess.Popen(
            [sys.executable, script, "--port", "0", "--state-dir", os.path.join(work, "state"),
             "--ready-file", ready, "--message-interval", "0", *args],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if not eventually(lambda: os.path.exists(ready) or self.process.poll() is not None, START_TIMEOUT_S) \
                or self.process.poll() is not None:
            self.stop()
            raise RuntimeError("the server did not start")
        with open(ready) as f:
            info = json.load(f)
        self.port, self.ca = info["port"], info["ca"]

    def url(self, path):
        return "https://localhost:%d%s" % (self.port, path)

    def publish(self, **values):
        subprocess.run([self.trusted, "--ca", self.ca, "--", "curl", "-sS", "-o", "/dev/null", "--max-time", "10",
                        self.url("/test/publish?" + urllib.parse.urlencode(values))],
                       check=True, timeout=60)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(30)
        self.process.stderr.close()


class UpdaterTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="velto-updater-test-")
        cls.deb_bytes = b"!<arch>\ndebian-binary   " + os.urandom(200000)
        cls.deb = os.path.join(cls.work, "velto_0.2.16.39_amd64.deb")
        Path(cls.deb).write_bytes(cls.deb_bytes)
        cls.not_a_deb = os.path.join(cls.work, "notes.txt")
        Path(cls.not_a_deb).write_text("no package here\n")
        cls.server = LocalServer(SERVER, TRUSTED, cls.work, "--package-deb", cls.deb, "--signing-key", SIGNING_KEY)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.case = tempfile.mkdtemp(prefix="case-", dir=self.work)
        self.bin = os.path.join(self.case, "bin")
        self.record = os.path.join(self.case, "record")
        os.makedirs(self.bin)
        os.makedirs(self.record)
        write_program(os.path.join(self.bin, "apt-get"), APT_GET)
        write_program(os.path.join(self.bin, "pkexec"), PKEXEC)
        # A space in the path: the client passes it quoted, as one argument.
        os.makedirs(os.path.join(self.case, "the client"))
        self.client = os.path.join(self.case, "the client", "velto")
        write_program(self.client, CLIENT)
        self.sleeper = None
        self.extra_env = {}

    def tearDown(self):
        if self.sleeper and self.sleeper.poll() is None:
            self.sleeper.kill()
            self.sleeper.wait(30)
        self.server.publish(package_deb=self.deb, signature="right", signing_key=SIGNING_KEY)

    def run_updater(self, program=UPDATER, url=None, status=0, arguments=None, arguments_prefix=()):
        """Runs the updater for a stand-in client process that ends once the
        updater is waiting for it; returns its exit code and stderr."""
        self.sleeper = subprocess.Popen(["sleep", "600"])
        env = dict(os.environ, PATH=self.bin + os.pathsep + os.environ.get("PATH", ""),
                   VELTO_TEST_RECORD=self.record, VELTO_TEST_CLIENT_PID=str(self.sleeper.pid),
                   VELTO_TEST_INSTALL_STATUS=str(status))
        if arguments is None:
            arguments = [self.client, url or self.server.url(PACKAGE_PATH), str(self.sleeper.pid)]
        env.update(self.extra_env)
        updater = subprocess.Popen([TRUSTED, "--ca", self.server.ca, "--", *arguments_prefix, program, *arguments],
                                   env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE)
        # Reaped here, so that the id is gone rather than a zombie's.
        self.sleeper.terminate()
        self.sleeper.wait(30)
        _, err = updater.communicate(timeout=RUN_TIMEOUT_S)
        return updater.returncode, err.decode(errors="replace")

    def recorded(self, name):
        return os.path.join(self.record, name)

    def assert_updated(self, code, err):
        self.assertEqual(code, 0, err)
        self.assertEqual(Path(self.recorded("installed.deb")).read_bytes(), self.deb_bytes)
        self.assertFalse(os.path.exists(self.recorded("client-alive")), "installed while the client still ran")
        lines = Path(self.recorded("apt-get.txt")).read_text().splitlines()
        if os.geteuid() == 0:
            self.assertEqual(lines[1], "args=install -y ./velto.deb")
            self.assertFalse(os.path.exists(self.recorded("pkexec.txt")))
        else:
            self.assertTrue(os.path.exists(self.recorded("pkexec.txt")))
        self.assertTrue(eventually(lambda: os.path.exists(self.recorded("client-started"))),
                        "the client was not started again")
        # The work directory went with the updater.
        self.assertFalse(os.path.exists(lines[0][len("cwd="):]))

    def assert_nothing_started(self, code, err):
        self.assertEqual(code, 1, err)
        self.assertFalse(os.path.exists(self.recorded("apt-get.txt")), "the installer ran")
        self.assertFalse(os.path.exists(self.recorded("client-started")), "the client was started")

    def test_installs_the_served_deb_and_starts_the_client_again(self):
        self.assert_updated(*self.run_updater())

    def test_a_keyed_updater_installs_a_package_signed_with_its_key(self):
        self.assert_updated(*self.run_updater(SIGNED_UPDATER))

    def test_a_keyed_updater_refuses_a_bad_or_missing_signature(self):
        self.server.publish(signature="wrong")
        code, err = self.run_updater(SIGNED_UPDATER)
        self.assert_nothing_started(code, err)
        self.assertIn("signature", err)
        self.server.publish(signature="right", signing_key="")
        self.assert_nothing_started(*self.run_updater(SIGNED_UPDATER))

    def test_server_down(self):
        url = "https://localhost:%d%s" % (free_port(), PACKAGE_PATH)
        code, err = self.run_updater(url=url)
        self.assert_nothing_started(code, err)
        self.assertIn("cannot download", err)

    def test_an_archive_without_a_deb(self):
        self.server.publish(package_deb=self.not_a_deb)
        code, err = self.run_updater()
        self.assert_nothing_started(code, err)
        self.assertIn("no installer", err)

    def test_an_error_page_is_not_a_package(self):
        self.server.publish(package_deb=os.path.join(self.work, "missing.deb"))
        self.assert_nothing_started(*self.run_updater())

    def test_a_failed_install_does_not_start_the_client(self):
        code, err = self.run_updater(status=100)
        self.assertEqual(code, 1, err)
        self.assertTrue(os.path.exists(self.recorded("installed.deb")))
        self.assertFalse(os.path.exists(self.recorded("client-started")))

    def run_as_nobody(self, path):
        """Runs the updater as a user without root rights, with `path` as PATH."""
        for directory in (self.work, self.case, self.bin, os.path.dirname(self.client)):
            os.chmod(directory, 0o755)
        os.chmod(self.record, 0o777)
        # Its private directory goes where that user may write.
        temporary = os.path.join(self.case, "tmp")
        os.makedirs(temporary)
        os.chmod(temporary, 0o777)
        self.extra_env["TMPDIR"] = temporary
        self.bin = path
        return self.run_updater(arguments_prefix=["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY,
                                                  "--clear-groups", "--"])

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"), "needs root to become another user")
    def test_without_root_apt_get_runs_through_pkexec(self):
        code, err = self.run_as_nobody(self.bin)
        self.assertEqual(code, 0, err)
        pkexec = Path(self.recorded("pkexec.txt")).read_text().split()
        self.assertEqual(pkexec[:4], [os.path.join(self.bin, "apt-get"), "install", "-y", pkexec[3]])
        self.assertTrue(pkexec[3].endswith("/velto.deb"))
        self.assertEqual(Path(self.recorded("installed.deb")).read_bytes(), self.deb_bytes)
        self.assertTrue(eventually(lambda: os.path.exists(self.recorded("client-started"))))

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv") and not shutil.which("pkexec"),
                         "needs root to become another user, and no pkexec on the machine")
    def test_without_root_or_pkexec_the_desktop_opens_the_package(self):
        # A handler of the test's own, found the way the desktop finds one.
        data = os.path.join(self.case, "data")
        os.makedirs(os.path.join(data, "applications"))
        handler = os.path.join(self.case, "handler")
        write_program(handler, HANDLER)
        Path(data, "applications", "velto-test-installer.desktop").write_text(
            "[Desktop Entry]\nType=Application\nName=Test installer\nExec=%s %%f\nMimeType=%s;\n"
            % (handler, DEB_TYPE))
        Path(data, "applications", "mimeapps.list").write_text(
            "[Default Applications]\n%s=velto-test-installer.desktop\n" % DEB_TYPE)
        for directory in (data, os.path.join(data, "applications")):
            os.chmod(directory, 0o755)
        self.extra_env = dict(XDG_DATA_HOME=data, XDG_CONFIG_HOME=data, XDG_DATA_DIRS=data + ":/usr/share")
        only_apt_get = os.path.join(self.case, "only-apt-get")
        os.makedirs(only_apt_get)
        write_program(os.path.join(only_apt_get, "apt-get"), APT_GET)
        code, err = self.run_as_nobody(only_apt_get)
        self.assertEqual(code, 3, err)
        self.assertIn("desktop", err)
        self.assertFalse(os.path.exists(self.recorded("apt-get.txt")))
        self.assertTrue(eventually(lambda: os.path.exists(self.recorded("handler.txt"))), err)
        opened = Path(self.recorded("handler.txt")).read_text().strip()
        # Left in place for the handler, which reads it after the updater ended.
        self.assertEqual(Path(opened).read_bytes(), self.deb_bytes)
        self.assertTrue(eventually(lambda: os.path.exists(self.recorded("client-started"))))
        shutil.rmtree(os.path.dirname(opened), ignore_errors=True)

    def test_other_arguments_are_refused(self):
        for arguments in ([], [self.client, self.server.url(PACKAGE_PATH)],
                          [self.client, self.server.url(PACKAGE_PATH), "1", "more"],
                          [self.client, self.server.url(PACKAGE_PATH).replace("https:", "http:"), "1"],
                          [self.client, self.server.url(PACKAGE_PATH), "one"]):
            with self.subTest(arguments=arguments):
                code, err = self.run_updater(arguments=arguments)
                self.assertEqual(code, 2, err)
                self.assertIn("usage", err)
                self.assertFalse(os.path.exists(self.recorded("apt-get.txt")))
                self.assertFalse(os.path.exists(self.recorded("client-started")))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
