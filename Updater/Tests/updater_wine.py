#!/usr/bin/env python3
"""The real updater.exe under Wine against the real local HTTPS server: the
package carries a stand-in installer, which must be run with /S after the
client ended, and the client must be started again.

Usage: updater_wine.py <updater.exe> <updater.exe built with the test key> <updater_stand_in.exe>
                       <wine-run> <velto_server.py> <Scripts/trusted> <the test key's private half>
Runs on the test display (Scripts/with-display); exits 77 (skipped) when the
host cannot run the executables."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "..", "App", "Tests")]
from client_window_wine import SKIPPED, main  # noqa: E402
from updater_tests import LocalServer, eventually  # noqa: E402

UPDATER, SIGNED_UPDATER, STAND_IN, WINE_RUN, SERVER, TRUSTED, SIGNING_KEY = (sys.argv[1:8] + [""] * 7)[:7]
PACKAGE_PATH = "/uploads/chat_files/velto_web-chat_client.zip"
RUN_TIMEOUT_S = 180


def windows_path(path):
    # Wine's drive Z: is the host's root.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class UpdaterUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="velto-updater-wine-")
        cls.installer = os.path.join(cls.work, "velto-setup.exe")
        shutil.copyfile(STAND_IN, cls.installer)
        cls.server = LocalServer(SERVER, TRUSTED, cls.work, "--package-installer", cls.installer, "--signing-key", SIGNING_KEY)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.case = tempfile.mkdtemp(prefix="case-", dir=self.work)
        self.record = os.path.join(self.case, "record.txt")
        # A space in the path: the client passes it quoted, as one argument.
        os.makedirs(os.path.join(self.case, "the client"))
        self.client = os.path.join(self.case, "the client", "velto.exe")
        shutil.copyfile(STAND_IN, self.client)
        self.running_client = None

    def tearDown(self):
        if self.running_client and self.running_client.poll() is None:
            self.running_client.kill()
            self.running_client.wait(30)
        self.server.publish(signature="right")

    def run_updater(self, program=UPDATER, exit_code=0):
        """Runs the updater for a stand-in client that ends once the updater
        has started; returns the updater's exit code and stderr."""
        self.running_client = subprocess.Popen([WINE_RUN, self.client, "--client"], stdin=subprocess.PIPE,
                                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        first = self.running_client.stdout.readline().strip()
        if self.running_client.poll() == SKIPPED or not first:
            self.skipTest("this host cannot run the executables")
        pid = first.decode()
        env = dict(os.environ, VELTO_TEST_RECORD=windows_path(self.record), VELTO_TEST_CLIENT_PID=pid,
                   VELTO_TEST_EXIT_CODE=str(exit_code))
        updater = subprocess.Popen([TRUSTED, "--ca", self.server.ca, "--", WINE_RUN, program,
                                    windows_path(self.client), self.server.url(PACKAGE_PATH), pid],
                                   env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE)
        self.running_client.stdin.close()
        self.running_client.wait(60)
        self.running_client.stdout.close()
        _, err = updater.communicate(timeout=RUN_TIMEOUT_S)
        if updater.returncode == SKIPPED:
            self.skipTest("this host cannot run the executables")
        return updater.returncode, err.decode(errors="replace")

    def lines(self):
        return Path(self.record).read_text().splitlines() if os.path.exists(self.record) else []

    def assert_updated(self, code, err):
        self.assertEqual(code, 0, err)
        self.assertTrue(eventually(lambda: len(self.lines()) >= 2), "the client was not started again: %s" % err)
        self.assertEqual(self.lines(), ["velto-setup.exe|/S|client ended", "velto.exe||client ended"])

    def test_runs_the_installer_silently_and_starts_the_client_again(self):
        self.assert_updated(*self.run_updater())

    def test_a_keyed_updater_takes_a_package_signed_with_its_key(self):
        self.assert_updated(*self.run_updater(SIGNED_UPDATER))

    def test_a_keyed_updater_refuses_a_bad_signature(self):
        self.server.publish(signature="wrong")
        code, err = self.run_updater(SIGNED_UPDATER)
        self.assertEqual(code, 1, err)
        self.assertEqual(self.lines(), [])

    def test_a_failed_installer_leaves_the_client_alone(self):
        code, err = self.run_updater(exit_code=5)
        self.assertEqual(code, 1, err)
        self.assertEqual(self.lines(), ["velto-setup.exe|/S|client ended"])


if __name__ == "__main__":
    main(os.environ.get("DISPLAY"), "needs the test display (run under Scripts/with-display)")
