#!/usr/bin/env python3
"""The update offer of the Windows client under Wine, met as a user meets it:
the local server publishes a version and a test updater, the question is
answered with the keyboard.

Usage: update_check_wine.py <velto.exe> <wine-run> <test_updater.exe> <server host>
                           [<client built with the test key> <the test key's private half>]
Runs under Scripts/with-test-server --private-network --port <the host's port>.
Exits 77 (skipped) when the host cannot run the executable."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

from client_window_wine import SKIPPED, app_dir, eventually, main, sh, stop

CLIENT, WINE_RUN, UPDATER, HOST, SIGNED_CLIENT, SIGNING_KEY = (sys.argv[1:7] + [""] * 6)[:6]
SERVER = "https://" + HOST
QUESTION = "^Доступно обновление!$"
MAIN = "^Velto Чат"


def fetch(path):
    return subprocess.run(["curl", "-sS", "--max-time", "10", SERVER + path],
                          capture_output=True, text=True, timeout=30).stdout


def publish(**values):
    fetch("/test/publish?" + urllib.parse.urlencode(values))


def visible(title):
    ids = sh("xdotool", "search", "--onlyvisible", "--name", title).split()
    return int(ids[0]) if ids else None


class UpdateCheckWineCase(unittest.TestCase):
    program = CLIENT

    def setUp(self):
        self.assertIn("reset", fetch("/test/reset"), "the local server does not answer")
        shutil.rmtree(app_dir(), ignore_errors=True)
        os.makedirs(app_dir())
        self.updater = os.path.join(app_dir(), "Updater", "updater.exe")
        self.log = tempfile.TemporaryFile()
        self.client = None

    def tearDown(self):
        fetch("/test/reset")
        stop(self.client)
        self.log.close()

    def start(self):
        self.client = subprocess.Popen([WINE_RUN, self.program], stdout=self.log, stderr=self.log)

    def wait_for(self, title, timeout=60):
        found = eventually(lambda: self.client.poll() is not None or visible(title), timeout=timeout)
        if self.client.poll() == SKIPPED:
            self.skipTest("this host cannot run the executable")
        self.assertTrue(found is not True and found, "no window matching %s" % title)
        return found

    def answer(self, box, key):
        sh("xdotool", "windowactivate", "--sync", str(box), "key", "--clearmodifiers", key)

    def updater_requested(self):
        return '"/uploads/chat_files/updater.exe"' in fetch("/test/requests")

    def close_window(self, window):
        sh("wmctrl", "-ic", str(window))
        self.assertEqual(self.client.wait(timeout=30), 0)


class UpdateCheckUnderWine(UpdateCheckWineCase):
    def test_yes_downloads_and_starts_the_updater_and_ends_the_client(self):
        publish(version="0.2.16.39", updater_file=UPDATER)
        self.start()
        box = self.wait_for(QUESTION)
        self.answer(box, "Return")
        self.assertEqual(self.client.wait(timeout=30), 0)
        arguments = os.path.join(app_dir(), "Updater", "arguments.txt")
        self.assertTrue(eventually(lambda: os.path.exists(arguments), timeout=30), "the updater did not run")
        with open(arguments, encoding="utf-8") as f:
            lines = f.read().splitlines()
        self.assertEqual(len(lines), 3, lines)
        self.assertTrue(lines[0].lower().endswith("\\velto.exe"), lines[0])
        self.assertEqual(lines[1], SERVER + "/uploads/chat_files/velto_web-chat_client.zip")
        self.assertRegex(lines[2], r"^[1-9]\d*$")
        with open(self.updater, "rb") as got, open(UPDATER, "rb") as published:
            self.assertEqual(got.read(), published.read())
        self.assertIsNone(visible(MAIN), "the chat window was shown")

    def test_no_opens_the_chat_window(self):
        publish(version="0.2.16.39", updater_file=UPDATER)
        self.start()
        self.answer(self.wait_for(QUESTION), "n")
        window = self.wait_for(MAIN)
        self.assertFalse(self.updater_requested())
        self.close_window(window)

    def test_the_same_version_asks_nothing(self):
        self.start()
        window = self.wait_for(MAIN)
        self.assertIsNone(visible(QUESTION))
        self.assertIn("/uploads/chat_files/velto_web-chat_client.ini", fetch("/test/requests"))
        self.close_window(window)

    def test_an_error_page_is_never_kept_as_the_updater(self):
        publish(version="0.2.16.39")
        self.start()
        self.answer(self.wait_for(QUESTION), "Return")
        window = self.wait_for(MAIN)
        self.assertTrue(self.updater_requested())
        self.assertFalse(os.path.exists(self.updater))
        self.close_window(window)

    def test_a_page_served_as_the_updater_is_not_kept(self):
        page = os.path.join(app_dir(), "page.html")
        with open(page, "w", encoding="utf-8") as f:
            f.write("<!DOCTYPE html><html><body>Maintenance</body></html>\n")
        publish(version="0.2.16.39", updater_file=page)
        self.start()
        self.answer(self.wait_for(QUESTION), "Return")
        window = self.wait_for(MAIN)
        self.assertTrue(self.updater_requested())
        self.assertFalse(os.path.exists(self.updater))
        self.close_window(window)

    def test_a_kept_updater_that_is_no_program_is_downloaded_again(self):
        os.makedirs(os.path.dirname(self.updater))
        with open(self.updater, "wb") as f:
            f.write(b"<html><body>Not Found</body></html>\n")
        publish(version="0.2.16.39", updater_file=UPDATER)
        self.start()
        self.answer(self.wait_for(QUESTION), "Return")
        self.assertEqual(self.client.wait(timeout=30), 0)
        arguments = os.path.join(app_dir(), "Updater", "arguments.txt")
        self.assertTrue(eventually(lambda: os.path.exists(arguments), timeout=30), "the updater did not run")
        self.assertTrue(self.updater_requested())
        with open(self.updater, "rb") as got, open(UPDATER, "rb") as published:
            self.assertEqual(got.read(), published.read())

    def test_a_second_start_during_the_question_runs_no_update_check(self):
        publish(version="0.2.16.39")
        self.start()
        box = self.wait_for(QUESTION)
        again = subprocess.Popen([WINE_RUN, CLIENT], stdout=self.log, stderr=self.log)
        self.addCleanup(stop, again)
        self.assertEqual(again.wait(timeout=60), 0)
        self.assertEqual(fetch("/test/requests").count('"/uploads/chat_files/velto_web-chat_client.ini"'), 1,
                         "the second start ran the update check")
        self.assertIsNone(visible(MAIN), "a chat window opened")
        self.answer(box, "n")
        self.close_window(self.wait_for(MAIN))

    def test_a_kill_during_the_updater_download_leaves_no_updater(self):
        # Padded, so that the slow line takes long enough to be caught.
        big = os.path.join(app_dir(), "big-updater.exe")
        with open(UPDATER, "rb") as f, open(big, "wb") as out:
            out.write(f.read() + b"\0" * 8192)
        publish(version="0.2.16.39", updater_file=big, updater_drip_ms="100")
        self.start()
        self.answer(self.wait_for(QUESTION), "Return")
        folder = os.path.dirname(self.updater)

        def partial():
            if not os.path.isdir(folder):
                return False
            return any(".velto-new-" in name and os.path.getsize(os.path.join(folder, name)) > 0
                       for name in os.listdir(folder))

        self.assertTrue(eventually(partial, timeout=60), "no part of the updater arrived")
        self.client.kill()
        self.client.wait(timeout=30)
        self.assertFalse(os.path.exists(self.updater), "a cut updater was left under its name")


@unittest.skipUnless(SIGNED_CLIENT and SIGNING_KEY, "needs the client built with the test key")
class SignedUpdateCheckUnderWine(UpdateCheckWineCase):
    """The client built with the test update key: the updater must carry that
    key's signature, which the local server makes with its private half."""

    program = SIGNED_CLIENT

    def setUp(self):
        super().setUp()
        self.arguments = os.path.join(app_dir(), "Updater", "arguments.txt")
        publish(signing_key=SIGNING_KEY)

    def signature_requested(self):
        return '"/uploads/chat_files/updater.exe.sig"' in fetch("/test/requests")

    def assert_published_updater_started(self):
        self.assertEqual(self.client.wait(timeout=30), 0)
        self.assertTrue(eventually(lambda: os.path.exists(self.arguments), timeout=30), "the updater did not run")
        with open(self.arguments, encoding="utf-8") as f:
            lines = f.read().splitlines()
        self.assertEqual(len(lines), 3, lines)
        self.assertTrue(lines[0].lower().endswith("\\" + os.path.basename(SIGNED_CLIENT).lower()), lines[0])
        with open(self.updater, "rb") as got, open(UPDATER, "rb") as published:
            self.assertEqual(got.read(), published.read())
        self.assertTrue(self.signature_requested())
        self.assertEqual(sorted(os.listdir(os.path.dirname(self.updater))), ["arguments.txt", "updater.exe"])

    def test_a_right_signature_starts_the_updater(self):
        publish(version="0.2.16.39", updater_file=UPDATER)
        self.start()
        self.answer(self.wait_for(QUESTION), "Return")
        self.assert_published_updater_started()
        self.assertIsNone(visible(MAIN), "the chat window was shown")

    def test_a_wrong_signature_keeps_nothing_and_starts_nothing(self):
        publish(version="0.2.16.39", updater_file=UPDATER, signature="wrong")
        self.start()
        self.answer(self.wait_for(QUESTION), "Return")
        window = self.wait_for(MAIN)
        self.assertTrue(self.updater_requested())
        self.assertTrue(self.signature_requested())
        self.assertFalse(os.path.exists(self.updater))
        self.close_window(window)
        self.assertFalse(os.path.exists(self.arguments), "the refused updater ran")
        self.assertEqual(os.listdir(os.path.dirname(self.updater)), [])

    def test_a_kept_updater_that_no_longer_verifies_is_downloaded_again(self):
        # Still a program (bytes after the image change nothing), but not the
        # one the signature is for.
        os.makedirs(os.path.dirname(self.updater))
        with open(UPDATER, "rb") as published, open(self.updater, "wb") as kept:
            kept.write(published.read() + b"changed")
        publish(version="0.2.16.39", updater_file=UPDATER)
        self.start()
        self.answer(self.wait_for(QUESTION), "Return")
        self.assert_published_updater_started()
        self.assertTrue(self.updater_requested())


if __name__ == "__main__":
    main(os.environ.get("DISPLAY") and os.environ.get("VELTO_TEST_SERVER_PORT"),
         "needs a display and the local server (Scripts/with-display, Scripts/with-test-server)")
